#include "tools/tapd_emu/queue_setup.h"

namespace tapd_emu {
namespace {

struct CodecEntry {
  Codec codec;
  const char* name;
};

constexpr CodecEntry kCodecs[] = {
    {Codec::kAlaw, "alaw"},       {Codec::kUlaw, "ulaw"},
    {Codec::kGsm, "gsm"},         {Codec::kG726_40, "g726-40"},
    {Codec::kG726_32, "g726-32"}, {Codec::kG726_24, "g726-24"},
    {Codec::kG726_16, "g726-16"}, {Codec::kG729, "g729"},
    {Codec::kG722, "g722"},
};

bool findCodec(const std::string& name, Codec* codec) {
  for (const CodecEntry& entry : kCodecs) {
    if (name == entry.name) {
      *codec = entry.codec;
      return true;
    }
  }
  return false;
}

// "framed:C0[,C1]" or "framed6:C0[,C1]" after its prefix.
std::string parseCodecs(const std::string& list, QueueSetup* setup) {
  const size_t comma = list.find(',');
  const std::string first = list.substr(0, comma);
  const std::string second =
      comma == std::string::npos ? first : list.substr(comma + 1);
  for (const std::string& name : {first, second}) {
    Codec codec;
    if (!findCodec(name, &codec)) {
      return "unknown codec '" + name + "' (codecs: " + codecNameList() + ")";
    }
  }
  findCodec(first, &setup->codec[0]);
  findCodec(second, &setup->codec[1]);
  return "";
}

// Parses `text` as an encoding. Returns false when it is no encoding at
// all; *error is set when it is a framed encoding with bad codecs.
bool parseEncoding(const std::string& text, QueueSetup* setup,
                   std::string* error) {
  if (text == "alaw" || text == "ulaw") {
    setup->encoding = text == "alaw" ? WireEncoding::kAlaw : WireEncoding::kUlaw;
    return true;
  }
  for (const char* prefix : {"framed:", "framed6:"}) {
    const std::string p = prefix;
    if (text.compare(0, p.size(), p) == 0) {
      setup->encoding =
          p == "framed:" ? WireEncoding::kFramed : WireEncoding::kFramedControl;
      *error = parseCodecs(text.substr(p.size()), setup);
      return true;
    }
  }
  if (text == "framed" || text == "framed6") {
    *error = "'" + text + "' needs its codecs, e.g. " + text + ":g729,gsm";
    return true;
  }
  return false;
}

}  // namespace

std::string parseQueueSetup(const std::string& text, QueueSetup* setup) {
  const size_t equals = text.find('=');
  if (equals == std::string::npos || equals == 0) {
    return "queue '" + text + "' is not NAME=FILE[:ENCODING]";
  }
  QueueSetup parsed;
  parsed.name = text.substr(0, equals);
  if (parsed.name.find_first_of("\r\n") != std::string::npos) {
    return "a queue name cannot hold a line break";
  }
  std::string rest = text.substr(equals + 1);
  // The first ':' that starts an encoding ends the file name.
  for (size_t colon = rest.find(':'); colon != std::string::npos;
       colon = rest.find(':', colon + 1)) {
    std::string error;
    if (parseEncoding(rest.substr(colon + 1), &parsed, &error)) {
      if (!error.empty()) return "queue '" + parsed.name + "': " + error;
      rest.resize(colon);
      break;
    }
  }
  if (rest.empty()) return "queue '" + parsed.name + "' has no file";
  parsed.path = rest;
  *setup = parsed;
  return "";
}

int framedMode(WireEncoding encoding) {
  return encoding == WireEncoding::kFramedControl ? 6 : 7;
}

const char* codecName(Codec codec) {
  for (const CodecEntry& entry : kCodecs) {
    if (entry.codec == codec) return entry.name;
  }
  return "?";
}

std::string codecNameList() {
  std::string list;
  for (const CodecEntry& entry : kCodecs) {
    if (!list.empty()) list += ' ';
    list += entry.name;
  }
  return list;
}

std::string encodingName(const QueueSetup& setup) {
  switch (setup.encoding) {
    case WireEncoding::kAlaw:
      return "alaw";
    case WireEncoding::kUlaw:
      return "ulaw";
    case WireEncoding::kFramed:
    case WireEncoding::kFramedControl:
      break;
  }
  return std::string(setup.encoding == WireEncoding::kFramed ? "framed:"
                                                            : "framed6:") +
         codecName(setup.codec[0]) + "," + codecName(setup.codec[1]);
}

}  // namespace tapd_emu
