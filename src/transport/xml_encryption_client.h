// The client of the deciphering component "XMLCipher.clsCipher": creates the component
// and turns one enciphered text into its clear text. No failure escapes it.
#pragma once

#include <string>

#include "platform/component.h"

namespace vemtu {

class CXMLEncryptionClient {
 public:
  // Prepares the component runtime for the calling thread.
  CXMLEncryptionClient();
  // Releases the component (when created), then the component runtime.
  virtual ~CXMLEncryptionClient();
  CXMLEncryptionClient(const CXMLEncryptionClient&) = delete;
  CXMLEncryptionClient& operator=(const CXMLEncryptionClient&) = delete;

  // Creates the component once; true when it exists. A failed creation keeps nothing.
  bool CreateComponent();

  // Deciphers `enciphered` (system code page) into `clear_text`. Returns whether the
  // component exists; when it does not, or when it reports a failure, `clear_text` is
  // left as it was.
  bool DecryptText(const std::string& enciphered, std::string& clear_text);

  // True when the last DecryptText was answered with a clear text that the system code
  // page cannot spell exactly (it was then left as it was: it cannot be sent as typed).
  bool AnswerNotInCodePage() const { return answer_not_in_code_page_; }

 private:
  platform::ComponentRuntime runtime_;
  platform::ComponentObject component_;
  bool created_ = false;
  bool answer_not_in_code_page_ = false;
};

}  // namespace vemtu
