/* crash_injector: makes a running Windows program crash, for the crash-report
 * check of scripts/test-windows.sh. It finds the process by its image name
 * and starts a thread in it at an address that holds no code, so that the
 * thread faults at once with an access violation, as a wild call would.
 *
 *   crash_injector IMAGE_NAME
 *
 * Exit status: 0 when the faulting thread was started, 1 when no process
 * has that name or the thread could not be started, 2 on a usage error. */
#include <windows.h>
#include <tlhelp32.h>

#include <stdio.h>
#include <string.h>

static DWORD findProcess(const char* imageName) {
  DWORD found = 0;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32 entry;
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more;
       more = Process32Next(snapshot, &entry)) {
    if (_stricmp(entry.szExeFile, imageName) == 0) found = entry.th32ProcessID;
  }
  CloseHandle(snapshot);
  return found;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: crash_injector IMAGE_NAME\n");
    return 2;
  }
  const DWORD id = findProcess(argv[1]);
  if (id == 0) {
    fprintf(stderr, "crash_injector: no process named %s\n", argv[1]);
    return 1;
  }
  HANDLE process = OpenProcess(PROCESS_CREATE_THREAD | PROCESS_QUERY_INFORMATION |
                                   PROCESS_VM_OPERATION | PROCESS_VM_READ |
                                   PROCESS_VM_WRITE,
                               FALSE, id);
  if (process == NULL) {
    fprintf(stderr, "crash_injector: cannot open process %lu (error %lu)\n",
            (unsigned long)id, (unsigned long)GetLastError());
    return 1;
  }
  /* The first page is never mapped: a call there faults. */
  LPTHREAD_START_ROUTINE wild = (LPTHREAD_START_ROUTINE)(ULONG_PTR)0x10;
  HANDLE thread = CreateRemoteThread(process, NULL, 0, wild, NULL, 0, NULL);
  if (thread == NULL) {
    fprintf(stderr, "crash_injector: cannot start a thread (error %lu)\n",
            (unsigned long)GetLastError());
    CloseHandle(process);
    return 1;
  }
  CloseHandle(thread);
  CloseHandle(process);
  return 0;
}
