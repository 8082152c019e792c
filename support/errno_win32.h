// The errno value for a Win32 error code, so that Windows failures are
// reported in the same words as POSIX ones (systemErrorText). Codes without
// an equivalent give EIO.
#pragma once

int errnoFromWin32(unsigned long error);
