#pragma once
// One program per user: a named mutex in the session's namespace (Local\), named with the
// user's SID, so that two users on one machine each have theirs. The system drops it when
// its process ends, crashed or not. A later start asks the running window for an answer
// and, answered, brings it to the front and ends; with no answer in 2 s (closing, hung) it
// keeps the name itself and runs.
namespace brek {

class Win32SingleInstance {
 public:
  Win32SingleInstance() = default;
  ~Win32SingleInstance();
  Win32SingleInstance(const Win32SingleInstance&) = delete;
  Win32SingleInstance& operator=(const Win32SingleInstance&) = delete;

  // True for the one that runs (also when no mutex could be made at all, or the running one
  // did not answer); false when another start of this user answered, whose window has then
  // been brought forward.
  bool Claim();
  // Drops the name: a start from now on runs at once.
  void Release();

 private:
  void* mutex_ = nullptr;
};

}  // namespace brek
