#pragma once
// The resources a non-Windows build carries, generated at build time.
#include <cstddef>

namespace brek {

struct EmbeddedResource {
  const char* name;
  const char* type;
  const unsigned char* data;
  std::size_t size;
};

// Ends with an entry whose name is null.
extern const EmbeddedResource kEmbeddedResources[];

}  // namespace brek
