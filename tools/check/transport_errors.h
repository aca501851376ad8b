// What the error numbers of a failed send mean to an operator.
#pragma once

namespace vemtu::check {

enum class SendFailure {
  kUnreachable,   // nothing answers, the name does not resolve, or no answer in time
  kCertificate,   // the server's certificate is not trusted or not valid for the site
  kOther,         // anything else: the error text says what
};

inline SendFailure ClassifySendError(long long error) {
  switch (error) {
    case 12029:  // cannot connect
    case 12007:  // name not resolved
    case 12002:  // timed out
      return SendFailure::kUnreachable;
    case 12175:  // secure channel failure (certificate chain not trusted)
    case 12157:  // security channel error
    case 12037:  // certificate date invalid
    case 12038:  // certificate name invalid
    case 12045:  // certificate authority invalid
      return SendFailure::kCertificate;
    default:
      return SendFailure::kOther;
  }
}

}  // namespace vemtu::check
