// The usage output the program must print, spelt out here rather than taken
// from the program's own text, so that a changed character there is caught.
#pragma once

#include <string>

namespace expected_usage {

inline constexpr char kUsageText[] =
    "([-h HOST] [-p PORT] (-q QUEUE|-t) [-a|-u|-r])|(-i FILE) [(-f FILE)|(-F "
    "FILE)]\n"
    "\t-h HOST    - hostname or IP of computer running tapd (default: "
    "localhost)\n"
    "\t-p PORT    - port number of tapd (default: 20000)\n"
    "\t-q QUEUE   - LDCC queue name\n"
    "\t-t         - test mode: do not send queue name, just read from socket\n"
    "\t-a         - treat incoming audio data as a-law (default)\n"
    "\t-u         - treat incoming audio data as u-law\n"
    "\t-r         - treat incoming audio data as RTP stream\n"
    "\t-i WAV     - read audio data from WAV file\n"
    "\t-F FILE    - WAV file to be created\n"
    "\t-f FILE    - WAV file to be appended or created\n";

// What goes to standard error for `message`: the message line (none when
// empty), then the usage text, ending in an empty line.
inline std::string usageOutput(const std::string& program,
                               const std::string& message) {
  std::string out;
  if (!message.empty()) out += program + ": " + message + "\n";
  return out + "Usage: " + program + " " + kUsageText + "\n";
}

}  // namespace expected_usage
