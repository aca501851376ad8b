#include "transport/xml_encryption_client.h"

namespace vemtu {

namespace {

constexpr char kCipherName[] = "XMLCipher.clsCipher";
// The component's second own method deciphers.
constexpr int kDecryptMethod = 2;

}  // namespace

CXMLEncryptionClient::CXMLEncryptionClient() = default;

CXMLEncryptionClient::~CXMLEncryptionClient() {
  if (created_) {
    component_.Release();
    created_ = false;
  }
}

bool CXMLEncryptionClient::CreateComponent() {
  if (created_) return true;
  platform::ComponentStatus status;
  platform::ComponentObject component = platform::ComponentObject::Create(kCipherName, status);
  if (status != platform::ComponentStatus::kCreated) return false;
  component_ = std::move(component);
  created_ = true;
  return true;
}

bool CXMLEncryptionClient::DecryptText(const std::string& enciphered, std::string& clear_text) {
  answer_not_in_code_page_ = false;
  if (created_) {
    // A failed call leaves the clear text as it was; the result stays "created".
    answer_not_in_code_page_ = component_.CallTextMethod(kDecryptMethod, enciphered, clear_text) ==
                               platform::TextCallOutcome::kAnswerNotInCodePage;
  }
  return created_;
}

}  // namespace vemtu
