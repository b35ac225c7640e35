// Whether certificate errors of https package downloads may be ignored.
//
// Off unless the instance INI file says, in section "system":
//   allow_insecure_tls=1
// Only for deployments whose package servers use certificates that do not
// verify; with it on, anyone on the network can replace a package together
// with its digest.
#pragma once

inline constexpr const char kInsecureTlsSection[] = "system";
inline constexpr const char kInsecureTlsKey[] = "allow_insecure_tls";

bool InsecureTlsAllowed();
