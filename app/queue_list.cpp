#include "app/queue_list.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "net/queue_exchange.h"
#include "net/socket.h"
#include "support/console_report.h"
#include "support/debug_trace.h"
#include "support/system_error.h"

namespace {

struct NamePrinter {
  FILE* out;
  std::string name;
  int writeError = 0;  // errno of the first failed write, 0 while none
};

void printName(NamePrinter* printer) {
  std::string& name = printer->name;
  if (!name.empty() && name.back() == '\r') name.pop_back();
  if (name.size() > kQueueNameLimit) name.resize(kQueueNameLimit);
  if (!name.empty() && printer->writeError == 0) {
    name.push_back('\n');
    errno = 0;
    if (std::fwrite(name.data(), 1, name.size(), printer->out) != name.size() ||
        std::fflush(printer->out) != 0) {
      printer->writeError = errno != 0 ? errno : EIO;
    }
  }
  name.clear();
}

void onPiece(void* context, const char* piece, int32_t length,
             bool /*atLineStart*/) {
  NamePrinter* printer = static_cast<NamePrinter*>(context);
  const bool endsLine = length > 0 && piece[length - 1] == '\n';
  const size_t text = static_cast<size_t>(endsLine ? length - 1 : length);
  // One byte beyond the limit is kept: a "\r" that ends the line.
  const size_t keep = kQueueNameLimit + 1;
  if (printer->name.size() < keep) {
    printer->name.append(piece, std::min(text, keep - printer->name.size()));
  }
  if (endsLine) printName(printer);
}

}  // namespace

Result listQueues(const char* host, int32_t port,
                  const std::atomic<int32_t>* stop, FILE* out,
                  Reporter* reporter, Failure* failure) {
  Failure ignored;
  if (failure == nullptr) failure = &ignored;
  *failure = Failure{};
  NetStatus status;
  NetSocket* connection = netConnect(host, port, stop, reporter, &status);
  if (connection == nullptr) {
    debugTrace("can't connect to host %s:%d\n", host, port);
    *failure = netFailureOf(status, host, port);
    return kResultNetwork;
  }
  NamePrinter printer{out, std::string(), 0};
  status = queueListRead(connection, onPiece, &printer, stop);
  netDestroy(connection);
  *failure = netFailureOf(status, host, port);
  Result result = status.failed() ? kResultNetwork : kResultOk;
  if (result == kResultOk && printer.writeError != 0) {
    consoleReport("could not write the queue list (%s)\r\n",
                  systemErrorText(printer.writeError).c_str());
    result = kResultWavOutput;
  }
  return result;
}
