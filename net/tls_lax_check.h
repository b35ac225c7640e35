// The lax certificate check a deployment may allow for package servers: a
// certificate whose name does not match or whose dates have passed (or not
// yet come) is accepted, but it must still chain to a trusted issuer.
#pragma once

// Installs the check on a libcurl easy handle (CURL*) before it connects.
// The caller turns libcurl's own host name check off.
void UseLaxCertificateCheck(void* curl_easy);
