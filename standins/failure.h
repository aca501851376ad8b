// Why an exchange failed, independent of the library that reports it; each library
// turns these into its own 12xxx numbers.
#pragma once

namespace vemtu::inet {

enum class Failure {
  kNone,               // no failure
  kCannotConnect,      // the server or proxy refused or could not be reached
  kTimeout,            // a connect, send or receive time-out passed
  kNameNotResolved,    // the server or proxy name did not resolve
  kConnectionAborted,  // the connection ended early (closed, or the body fell short)
  kConnectionReset,    // the peer reset the connection
  kInvalidResponse,    // the reply was not HTTP, or there was no reply at all
  kUnknownAuthority,   // the certificate chain does not lead to a trusted authority
  kCertificateDate,    // the certificate has expired or is not valid yet
  kCertificateName,    // the certificate is for another host name
  kSecureChannel,      // the TLS handshake failed for another reason
  kCancelled,          // the handle was closed while the call waited
  kOutOfMemory,        // an allocation failed
  kInvalidUrl,         // the host or object name cannot form a request
  kLoginFailure,       // authentication could not be completed
  kResend,             // the request must be sent again (its body cannot be replayed)
  kNotSent,            // no send is in progress on the request
  kBadArgument,        // more body than announced
  kInternal,           // anything else
};

}  // namespace vemtu::inet
