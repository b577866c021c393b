#pragma once
// One program per user: a named mutex in the session's namespace (Local\), named with the
// user's SID, so that two users on one machine each have theirs. The system drops it when
// its process ends, crashed or not. A later start brings the running window to the front
// and ends.
namespace brek {

class Win32SingleInstance {
 public:
  Win32SingleInstance() = default;
  ~Win32SingleInstance();
  Win32SingleInstance(const Win32SingleInstance&) = delete;
  Win32SingleInstance& operator=(const Win32SingleInstance&) = delete;

  // True for the one that runs (also when no mutex could be made at all); false when
  // another start of this user runs, whose window has then been brought forward.
  bool Claim();

 private:
  void* mutex_ = nullptr;
};

}  // namespace brek
