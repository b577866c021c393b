#pragma once
namespace brek {
// Makes "Tahoma" resolve: the system's own, else the copy Wine ships; otherwise Qt falls
// back to its default sans font. Returns whether Tahoma itself is now available.
bool EnsureTahoma();
}  // namespace brek
