// Whether certificate errors of https package downloads may be ignored.
//
// Off unless the instance INI file says, in section "system":
//   allow_insecure_tls=1
// Only for deployments whose package servers use certificates with a wrong
// name or dates that have passed: with it on, such a certificate is accepted
// as long as a trusted issuer signed it; one from an unknown issuer is still
// refused.
#pragma once

inline constexpr const char kInsecureTlsSection[] = "system";
inline constexpr const char kInsecureTlsKey[] = "allow_insecure_tls";

bool InsecureTlsAllowed();
