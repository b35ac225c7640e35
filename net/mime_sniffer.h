// Naming the content type of an upload from its first bytes.
#pragma once

#include <cstddef>
#include <string>

// The MIME type libmagic sees in the data, or "application/octet-stream"
// when it cannot tell (empty data included).
std::string SniffMimeType(const void* data, size_t size);
