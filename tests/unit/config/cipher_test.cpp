// The cipher's text form: round trips, and the clean failures for other keys, altered,
// cut and garbled texts; the key file's life; the UTF-16 boundary conversion.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cipher_text.h"
#include "env_guard.h"
#include "key_store.h"
#include "platform/component_utf16.h"
#include "support/test_files.h"

namespace vemtu::cipher {
namespace {

CipherKey KeyOf(unsigned char fill) {
  CipherKey key;
  key.fill(fill);
  return key;
}

TEST(CipherText, RoundTripsAnyClearText) {
  const CipherKey key = KeyOf(7);
  const std::vector<std::string> texts = {
      "", "a", "proxy-user", "p@ss w0rd=\"quoted\"", "\xC3\xA9t\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x94\x91",
      std::string(1000, 'x'), std::string("with\0zero", 9)};
  for (const std::string& clear : texts) {
    std::string text;
    ASSERT_EQ(EncryptText(key, clear, text), CipherStatus::kOk);
    std::string decrypted = "stale";
    ASSERT_EQ(DecryptText(key, text, decrypted), CipherStatus::kOk) << text;
    EXPECT_EQ(decrypted, clear);
    // nonce + tag around the clear bytes, base64 without line breaks
    EXPECT_EQ(text.size(), (clear.size() + kNonceBytes + kTagBytes + 2) / 3 * 4);
  }
}

TEST(CipherText, SameClearTextGivesDifferentTexts) {
  const CipherKey key = KeyOf(1);
  std::string a, b;
  ASSERT_EQ(EncryptText(key, "user", a), CipherStatus::kOk);
  ASSERT_EQ(EncryptText(key, "user", b), CipherStatus::kOk);
  EXPECT_NE(a, b);
}

TEST(CipherText, FailuresLeaveTheClearTextUntouched) {
  const CipherKey key = KeyOf(3);
  std::string good;
  ASSERT_EQ(EncryptText(key, "secret user", good), CipherStatus::kOk);
  std::string bytes;
  ASSERT_TRUE(DecodeBase64(good, bytes));

  struct Case {
    const char* name;
    std::string text;
    CipherKey key;
    CipherStatus expected;
  };
  std::vector<Case> cases = {
      {"other key", good, KeyOf(4), CipherStatus::kRejected},
      {"empty", "", key, CipherStatus::kMalformed},
      {"not base64", "not*base64!", key, CipherStatus::kMalformed},
      {"cut base64", good.substr(0, good.size() - 1), key, CipherStatus::kMalformed},
      {"cut bytes", EncodeBase64(bytes.substr(0, bytes.size() - 1)), key, CipherStatus::kRejected},
      {"nonce and tag only", EncodeBase64(bytes.substr(0, kNonceBytes + kTagBytes)), key,
       CipherStatus::kRejected},
      {"shorter than nonce and tag", EncodeBase64(bytes.substr(0, kNonceBytes + kTagBytes - 1)),
       key, CipherStatus::kMalformed},
      {"padding inside", good.substr(0, 4) + "=" + good.substr(5), key, CipherStatus::kMalformed},
  };
  // Every single flipped bit, in nonce, cipher text and tag, is caught.
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::string altered = bytes;
    altered[i] = static_cast<char>(altered[i] ^ (1 << (i % 8)));
    cases.push_back({"flipped bit", EncodeBase64(altered), key, CipherStatus::kRejected});
  }
  for (const Case& c : cases) {
    std::string clear = "untouched";
    EXPECT_EQ(DecryptText(c.key, c.text, clear), c.expected) << c.name << ": " << c.text;
    EXPECT_EQ(clear, "untouched") << c.name;
  }
}

TEST(CipherText, TooLongTextsAreRefused) {
  const CipherKey key = KeyOf(5);
  std::string text, clear;
  EXPECT_EQ(EncryptText(key, std::string(kMaxClearBytes + 1, 'a'), text), CipherStatus::kTooLong);
  EXPECT_EQ(DecryptText(key, std::string(kMaxClearBytes * 2, 'A'), clear), CipherStatus::kTooLong);
}

TEST(Base64, KnownVectorsAndStrictDecoding) {
  const std::pair<std::string, std::string> vectors[] = {
      {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foobar", "Zm9vYmFy"},
      {"\xFF\xFE", "//4="}};
  for (const auto& [bytes, text] : vectors) {
    EXPECT_EQ(EncodeBase64(bytes), text);
    std::string decoded;
    ASSERT_TRUE(DecodeBase64(text, decoded)) << text;
    EXPECT_EQ(decoded, bytes);
  }
  std::string decoded;
  EXPECT_TRUE(DecodeBase64(" Zm9v\r\n", decoded));
  EXPECT_EQ(decoded, "foo");
  for (const char* bad : {"Zg=", "Zh==", "Zm9=", "Z===", "Zm 9v", "Zm9v=", "=Zm9"}) {
    EXPECT_FALSE(DecodeBase64(bad, decoded)) << bad;
  }
}

// --- Key file ---

class KeyStore : public ::testing::Test {
 protected:
  test::TempDir dir;
  std::string key_path = dir / "keys/cipher.key";
  test::EnvGuard env{"VEMTU_CIPHER_KEY", key_path};
};

TEST_F(KeyStore, DecryptionNeverMakesAKey) {
  CipherKey key;
  EXPECT_EQ(LoadKey(key), CipherStatus::kNoKey);
  std::string clear = "untouched";
  EXPECT_EQ(DecryptWithStoredKey("AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA", clear), CipherStatus::kNoKey);
  EXPECT_EQ(clear, "untouched");
  EXPECT_FALSE(test::FileExists(key_path));
}

TEST_F(KeyStore, FirstEncryptionMakesTheKeyThatLaterCallsUse) {
  std::string text, clear;
  ASSERT_EQ(EncryptWithStoredKey("user", text), CipherStatus::kOk);
  ASSERT_TRUE(test::FileExists(key_path));
  EXPECT_EQ(KeyFilePath(), key_path);
  ASSERT_EQ(DecryptWithStoredKey(text, clear), CipherStatus::kOk);
  EXPECT_EQ(clear, "user");
  std::string again;
  ASSERT_EQ(EncryptWithStoredKey("user", again), CipherStatus::kOk);
  EXPECT_EQ(DecryptWithStoredKey(again, clear), CipherStatus::kOk);
#ifndef _WIN32
  namespace fs = std::filesystem;
  EXPECT_EQ(fs::status(key_path).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(fs::file_size(key_path), kKeyBytes);
#endif
}

TEST_F(KeyStore, ABrokenKeyFileIsRefused) {
  test::WriteFileBytes(key_path, "short");
  std::filesystem::permissions(key_path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  std::string text;
  EXPECT_EQ(EncryptWithStoredKey("user", text), CipherStatus::kBadKey);
  EXPECT_EQ(test::ReadFileBytes(key_path), "short");  // never replaced
}

#ifndef _WIN32
TEST_F(KeyStore, AKeyFileOthersMayReadIsRefused) {
  std::string text;
  ASSERT_EQ(EncryptWithStoredKey("user", text), CipherStatus::kOk);
  std::filesystem::permissions(key_path, std::filesystem::perms::group_read,
                               std::filesystem::perm_options::add);
  std::string clear = "untouched";
  EXPECT_EQ(DecryptWithStoredKey(text, clear), CipherStatus::kExposedKey);
  EXPECT_EQ(clear, "untouched");
}
#endif

// --- UTF-16 at the component boundary ---

TEST(ComponentText, ConvertsBothWaysAndRejectsMalformedInput) {
  const std::string utf8 = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x94\x91";
  std::u16string wide;
  ASSERT_TRUE(platform::Utf8ToUtf16(utf8, wide));
  EXPECT_EQ(wide, u"a\u00E9\u20AC\U0001F511");
  std::string back;
  ASSERT_TRUE(platform::Utf16ToUtf8(wide, back));
  EXPECT_EQ(back, utf8);

  for (const char* bad : {"\xC0\x80", "\xE0\x80\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xC3",
                          "\x80", "\xE2\x82"}) {
    std::u16string out = u"kept";
    EXPECT_FALSE(platform::Utf8ToUtf16(bad, out));
    EXPECT_EQ(out, u"kept");
  }
  for (std::u16string bad : {std::u16string(1, u'\xD800'), std::u16string(1, u'\xDC00'),
                             std::u16string{u'\xD800', u'a'}}) {
    std::string out = "kept";
    EXPECT_FALSE(platform::Utf16ToUtf8(bad, out));
    EXPECT_EQ(out, "kept");
  }
}

}  // namespace
}  // namespace vemtu::cipher
