// Holds a file open as another program may (a scanner, an indexer): for reading,
// sharing nothing, until told to let go.
//   quiltview_hold FILE READY RELEASE
// Opens FILE, makes the file READY, and keeps FILE open until the file RELEASE
// exists (a minute at most). Exit status 1 when FILE cannot be opened.
#include <windows.h>

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  const HANDLE held = ::CreateFileA(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (held == INVALID_HANDLE_VALUE) return 1;
  const HANDLE ready =
      ::CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (ready == INVALID_HANDLE_VALUE) return 1;
  ::CloseHandle(ready);
  for (int i = 0; i < 1200 && ::GetFileAttributesA(argv[3]) == INVALID_FILE_ATTRIBUTES; ++i) {
    ::Sleep(50);
  }
  ::CloseHandle(held);
  return 0;
}
