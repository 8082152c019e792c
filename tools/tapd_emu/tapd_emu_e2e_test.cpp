// End-to-end tests of tapd-emu: hearkener records a call the emulator
// serves, and the recording must hold exactly what the codec libraries
// themselves make of the frames the emulator sends; misbehaving clients
// must not disturb it, and a stop ends it cleanly.
#include <cmath>
#include <cstdint>

// telephony.h first: g722.h needs its definitions.
#include <spandsp/telephony.h>
//
#include <spandsp/g722.h>
// telephony.h redefines lrint and lrintf as plain casts.
#undef lrint
#undef lrintf

extern "C" {
#include <bcg729/decoder.h>
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}
#include <arpa/inet.h>
#include <fcntl.h>
#include <gsm.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <ostream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "codecs/g711.h"
#include "media/fcs16.h"
#include "tests/e2e_wav.h"
#include "tests/run_program.h"
#include "tests/test_clock.h"
#include "tests/test_files.h"

extern char** environ;

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
using test_files::TempDir;

// tapd-emu as a child process: its port is read from its first line of
// output, its log goes to a file; stop() or the destructor sends SIGTERM.
class Emulator {
 public:
  Emulator(const std::vector<std::string>& args, const std::string& log) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addopen(&actions, 2, log.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> all{TAPD_EMU_EXE, "--port", "0"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all) argv.push_back(arg.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, TAPD_EMU_EXE, &actions, nullptr, argv.data(),
                    environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string line;
    pollfd entry{out[0], POLLIN, 0};
    char c = 0;
    while (pid_ > 0 && line.find('\n') == std::string::npos &&
           poll(&entry, 1, 10000) > 0 && read(out[0], &c, 1) == 1) {
      line += c;
    }
    close(out[0]);
    const size_t colon = line.rfind(':');
    if (line.rfind("tapd-emu: listening on 127.0.0.1:", 0) == 0) {
      port_ = std::stoi(line.substr(colon + 1));
    }
  }
  ~Emulator() { stop(); }

  int port() const { return port_; }

  // Sends SIGTERM and waits at most 5 s: the exit status, or -1.
  int stop() {
    if (pid_ <= 0) return -1;
    kill(pid_, SIGTERM);
    int status = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (Clock::now() > deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        status = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
    return status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

// A raw client: connects, reads the queue list, sends `request`, then reads
// up to `limit` bytes until the emulator closes (at most 10 s). Returns
// what came after "[End]\r\n". Sets `*streaming` (may be null) once bytes
// after the list arrived.
Bytes askQueue(int port, const std::string& request, size_t limit = 1 << 24,
               std::atomic<bool>* streaming = nullptr) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string received;
  bool listed = false;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    pollfd entry{fd, POLLIN, 0};
    char buffer[4096];
    while (received.size() < limit && Clock::now() < deadline &&
           poll(&entry, 1, 1000) >= 0) {
      const ssize_t got = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
      if (got == 0 || (got < 0 && errno != EAGAIN)) break;
      if (got > 0) received.append(buffer, static_cast<size_t>(got));
      const size_t end = received.find("[End]\r\n");
      if (!listed && end != std::string::npos) {
        listed = true;
        received.erase(0, end + 7);
        send(fd, request.data(), request.size(), MSG_NOSIGNAL);
      }
      if (listed && !received.empty() && streaming != nullptr) {
        streaming->store(true);
      }
    }
  }
  close(fd);
  return Bytes(received.begin(), received.end());
}

struct Frame {
  int direction;
  int type;
  Bytes payload;
};

// The frames of a framed stream, each checked by its FCS-16.
std::vector<Frame> parseFrames(const Bytes& stream, int mode) {
  std::vector<Frame> frames;
  Bytes frame;
  bool escape = false;
  for (uint8_t b : stream) {
    if (escape) {
      frame.push_back(static_cast<uint8_t>(b - 2));
      escape = false;
    } else if (b == 0xFE) {
      escape = true;
    } else if (b != 0xFF) {
      frame.push_back(b);
    } else if (!frame.empty()) {
      uint32_t fcs = kFcs16Initial;
      for (size_t i = mode == 6 ? 1 : 0; i < frame.size(); ++i) {
        fcs = fcs16Update(fcs, frame[i]);
      }
      EXPECT_EQ(fcs, kFcs16GoodSwapped) << "frame " << frames.size();
      const size_t header = mode == 6 ? 1 : 2;
      frames.push_back({frame[0] & 1, mode == 6 ? frame[0] >> 2 : frame[1],
                        Bytes(frame.begin() + header, frame.end() - 2)});
      frame.clear();
    }
  }
  EXPECT_TRUE(frame.empty()) << "the stream ends inside a frame";
  return frames;
}

// One direction's decoders, called as the libraries document them; G.726
// starts afresh whenever the codec type changes, as hearkener's does.
class ReferenceDecoder {
 public:
  ReferenceDecoder()
      : gsm_(gsm_create()),
        g729_(initBcg729DecoderChannel()),
        g722_(g722_decode_init(nullptr, 64000, G722_SAMPLE_RATE_8000)) {}
  ~ReferenceDecoder() {
    gsm_destroy(gsm_);
    closeBcg729DecoderChannel(g729_);
    g722_decode_free(g722_);
    avcodec_free_context(&g726_);
  }

  // Appends the A-law bytes of `frame` to *out.
  void decode(const Frame& frame, Bytes* out) {
    const Bytes& p = frame.payload;
    if (frame.type != lastType_ && frame.type >= 5 && frame.type <= 8) {
      openG726(10 - frame.type);
    }
    lastType_ = frame.type;
    int16_t samples[160];
    for (size_t at = 0; at < p.size();) {
      int count = 0;
      size_t used = 0;
      switch (frame.type) {
        case 2:
        case 3:
          out->push_back(frame.type == 2 ? p[at] : ulawToAlaw(p[at]));
          ++at;
          continue;
        case 40:
          out->insert(out->end(), 8u * p[at], kAlawSilence);
          at = p.size();
          continue;
        case 4:
          EXPECT_EQ(gsm_decode(gsm_, const_cast<uint8_t*>(&p[at]), samples), 0);
          count = 160, used = 33;
          break;
        case 9:
          bcg729Decoder(g729_, &p[at], 10, 0, 0, 0, samples);
          count = 80, used = 10;
          break;
        case 13:
          count = g722_decode(g722_, samples, &p[at], 80), used = 80;
          break;
        default:
          used = static_cast<size_t>(10 * (10 - frame.type));
          count = decodeG726(&p[at], used, samples);
      }
      for (int i = 0; i < count; ++i)
        out->push_back(linearToAlaw(samples[i] >> 2));
      at += used;
    }
  }

 private:
  void openG726(int bits) {
    avcodec_free_context(&g726_);
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_ADPCM_G726);
    g726_ = avcodec_alloc_context3(codec);
    g726_->sample_rate = 8000;
    av_channel_layout_default(&g726_->ch_layout, 1);
    g726_->bits_per_coded_sample = bits;
    ASSERT_EQ(avcodec_open2(g726_, codec, nullptr), 0);
  }

  int decodeG726(const uint8_t* unit, size_t length, int16_t* samples) {
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    packet->data = const_cast<uint8_t*>(unit);
    packet->size = static_cast<int>(length);
    int count = 0;
    if (avcodec_send_packet(g726_, packet) == 0 &&
        avcodec_receive_frame(g726_, frame) == 0 && frame->nb_samples == 80) {
      count = 80;
      std::copy_n(reinterpret_cast<int16_t*>(frame->data[0]), 80, samples);
    }
    EXPECT_EQ(count, 80);
    av_frame_free(&frame);
    av_packet_free(&packet);
    return count;
  }

  gsm gsm_;
  bcg729DecoderChannelContextStruct* g729_;
  g722_decode_state_t* g722_;
  AVCodecContext* g726_ = nullptr;
  int lastType_ = 0;
};

// What hearkener must record of a framed stream whose two directions carry
// the same duration frame by frame: both decoded, interleaved.
Bytes expectedRecording(const std::vector<Frame>& frames) {
  ReferenceDecoder decoders[2];
  Bytes channel[2];
  for (const Frame& frame : frames) {
    decoders[frame.direction].decode(frame, &channel[frame.direction]);
  }
  EXPECT_EQ(channel[0].size(), channel[1].size());
  Bytes both;
  for (size_t i = 0; i < channel[0].size() && i < channel[1].size(); ++i) {
    both.push_back(channel[0][i]);
    both.push_back(channel[1][i]);
  }
  return both;
}

// The linear samples of channel `c` of interleaved A-law bytes.
std::vector<double> channelOf(const Bytes& alaw, int c) {
  std::vector<double> samples;
  for (size_t i = c; i < alaw.size(); i += 2) {
    samples.push_back(alawToLinear(alaw[i]));
  }
  return samples;
}

struct Likeness {
  double correlation = -1;  // normalised
  double snrDb = -99;
  double level = 0;  // ratio of the levels, out to in
};

// How much `out` sounds like `in` over the samples [from, to): the best of
// a few samples of codec delay.
// REQUIRES: to + 8 <= out.size(), to <= in.size().
Likeness likeness(const std::vector<double>& in, const std::vector<double>& out,
                  size_t from, size_t to) {
  Likeness best;
  double inEnergy = 0, outEnergy = 0;
  for (size_t i = from; i < to; ++i) {
    inEnergy += in[i] * in[i];
    outEnergy += out[i] * out[i];
  }
  best.level = std::sqrt(outEnergy / (inEnergy + 1));
  for (size_t lag = 0; lag <= 8; ++lag) {
    double product = 0, error = 0;
    for (size_t i = from; i < to; ++i) {
      product += in[i] * out[i + lag];
      error += (in[i] - out[i + lag]) * (in[i] - out[i + lag]);
    }
    best.correlation = std::max(best.correlation,
                                product / std::sqrt(inEnergy * outEnergy + 1));
    best.snrDb = std::max(best.snrDb, 10 * std::log10(inEnergy / (error + 1)));
  }
  return best;
}

Bytes audioOf(const std::string& wav) {
  Bytes bytes = test_files::readFile(wav);
  return Bytes(bytes.begin() + std::min<size_t>(bytes.size(), 58), bytes.end());
}

// A call of 3.2 s: the first direction speaks, pauses (1.2 to 3 s) and
// speaks again; the second direction is quiet, then speaks from 1.5 s.
constexpr size_t kCallSamples = 25600;
constexpr size_t kSecondTurn = 24000;
std::string makeCall(const TempDir& dir, const std::string& law) {
  const std::string path = dir.file(law + ".wav");
  const auto run = run_program::runProgram(
      {e2e::makeTestCallExe(), path, "--" + law, "--seconds", "3.2"});
  EXPECT_EQ(run.exitStatus, 0);
  return path;
}

struct FramedCase {
  const char* encoding;
  bool live;  // served to hearkener -r; else written with --write for -i
  // Of the first direction's second turn, after a pause: a codec that
  // would not start where the receiver's decoder starts fails this.
  double minSnrDb;
};

void PrintTo(const FramedCase& c, std::ostream* os) { *os << c.encoding; }

class TapdEmuFramed : public ::testing::TestWithParam<FramedCase> {};

TEST_P(TapdEmuFramed, RecordingEqualsTheLibrariesDecode) {
  const FramedCase c = GetParam();
  TempDir dir;
  const std::string source = makeCall(dir, "alaw");
  const std::string queue = "q=" + source + ":" + c.encoding;
  const int mode = std::string(c.encoding).rfind("framed6:", 0) == 0 ? 6 : 7;
  Bytes stream;
  run_program::RunResult run;
  if (c.live) {
    Emulator emulator({"--fast", "--queue", queue}, dir.file("log"));
    ASSERT_GT(emulator.port(), 0);
    stream = askQueue(emulator.port(), "q\r\n");
    run = e2e::runHearkener({"-h", "127.0.0.1", "-p",
                             std::to_string(emulator.port()), "-q", "q", "-r",
                             "-F", dir.file("out.wav")});
    EXPECT_EQ(emulator.stop(), 0);
  } else {
    ASSERT_EQ(run_program::runProgram({TAPD_EMU_EXE, "--queue", queue,
                                       "--write", dir.file("framed.wav")})
                  .exitStatus,
              0);
    stream = audioOf(dir.file("framed.wav"));
    run = e2e::runHearkener(
        {"-i", dir.file("framed.wav"), "-F", dir.file("out.wav")});
  }
  EXPECT_EQ(run.exitStatus, 0) << run.err;
  const std::vector<Frame> frames = parseFrames(stream, mode);
  // Every direction sends its codec and, for its quiet stretches, silence.
  std::set<int> types[2];
  for (const Frame& frame : frames) types[frame.direction].insert(frame.type);
  EXPECT_EQ(types[0].size(), 2u);
  EXPECT_EQ(types[1].size(), 2u);
  EXPECT_EQ(types[0].count(40) + types[1].count(40), 2u);
  const Bytes expected = expectedRecording(frames);
  ASSERT_EQ(expected.size(), 2 * kCallSamples);
  EXPECT_EQ(e2e::difference(audioOf(dir.file("out.wav")), expected), "");
  // And it is the source's audio, at the source's level.
  for (int channel = 0; channel < 2; ++channel) {
    const auto in = channelOf(audioOf(source), channel);
    const auto out = channelOf(expected, channel);
    const Likeness whole = likeness(in, out, 0, kCallSamples - 8);
    EXPECT_GT(whole.correlation, 0.75) << "channel " << channel;
    EXPECT_NEAR(whole.level, 1.0, 0.25) << "channel " << channel;
    if (channel == 0) {
      EXPECT_GT(likeness(in, out, kSecondTurn, kCallSamples - 8).snrDb,
                c.minSnrDb);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    EveryCodec, TapdEmuFramed,
    ::testing::Values(FramedCase{"framed:alaw,ulaw", true, 30},
                      FramedCase{"framed:g726-40,gsm", true, 15},
                      FramedCase{"framed:g726-32,g729", true, 15},
                      FramedCase{"framed:g726-24,g722", true, 9},
                      FramedCase{"framed:g726-16,g726-32", true, 5},
                      FramedCase{"framed6:gsm,g726-16", false, 8},
                      FramedCase{"framed6:g722,g729", false, 10}),
    [](const ::testing::TestParamInfo<FramedCase>& info) {
      std::string name = info.param.encoding;
      for (char& c : name) {
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
      }
      return name;
    });

// A-law and u-law queues: the source's bytes, which hearkener records as
// they are (-a) or through the G.711 code conversion (-u).
TEST(TapdEmuG711, RecordingHoldsTheSourceBytes) {
  TempDir dir;
  for (const std::string law : {"alaw", "ulaw"}) {
    const std::string source = makeCall(dir, law);
    Emulator emulator({"--fast", "--queue", "q=" + source + ":" + law},
                      dir.file("log"));
    ASSERT_GT(emulator.port(), 0);
    const auto run = e2e::runHearkener(
        {"-h", "127.0.0.1", "-p", std::to_string(emulator.port()), "-q", "q",
         law == "alaw" ? "-a" : "-u", "-F", dir.file("out.wav")});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    Bytes expected = audioOf(source);
    if (law == "ulaw") ulawToAlawInPlace(expected.data(), expected.size());
    EXPECT_EQ(e2e::difference(audioOf(dir.file("out.wav")), expected), "")
        << law;
  }
}

// Clients that name no queue, an unknown one, garbage or that leave early
// end their own session only; a stop ends the rest at once, with status 0.
TEST(TapdEmuServer, BadClientsDoNotStopIt) {
  TempDir dir;
  Emulator emulator({"--loop", "--name-timeout", "1", "--queue",
                     "q=" + makeCall(dir, "alaw")},
                    dir.file("log"));
  ASSERT_GT(emulator.port(), 0);
  const int port = emulator.port();
  std::thread silent([port] { EXPECT_TRUE(askQueue(port, "").empty()); });
  EXPECT_TRUE(askQueue(port, "nosuch\r\n").empty());
  EXPECT_TRUE(askQueue(port, std::string(3000, 'x')).empty());
  EXPECT_EQ(askQueue(port, "q", 1).size(), 0u);  // name cut short: timeout
  EXPECT_GE(askQueue(port, "q\r\n", 1000).size(), 1000u);  // leaves early
  silent.join();
  const auto readLog = [&] {
    const Bytes bytes = test_files::readFile(dir.file("log"));
    return std::string(bytes.begin(), bytes.end());
  };
  // The session of the client that left notices it at its next send.
  EXPECT_TRUE(test_clock::waitUntil(
      [&] { return readLog().find("client closed") != std::string::npos; }));
  // The stop comes while this client's session streams.
  std::atomic<bool> streaming{false};
  std::thread holding(
      [port, &streaming] { askQueue(port, "q\r\n", 1u << 30, &streaming); });
  EXPECT_TRUE(test_clock::waitUntil([&] { return streaming.load(); }));
  const auto stopped = Clock::now();
  EXPECT_EQ(emulator.stop(), 0);
  EXPECT_LT(test_clock::msBetween(stopped, Clock::now()),
            test_clock::boundMs(1000));
  holding.join();
  const std::string log = readLog();
  for (const char* end : {"unknown queue", "bad request", "timeout",
                          "client closed", "stopped"}) {
    EXPECT_NE(log.find(end), std::string::npos) << end << " in\n" << log;
  }
}

// Files it must not read or write are refused at once, untouched, with one
// line naming the file (control bytes escaped) and why; a write that fails
// removes the file it made.
TEST(TapdEmuFiles, RefusedFilesAreNamedAndLeftAlone) {
  TempDir dir;
  const std::string source = makeCall(dir, "alaw");
  const std::string target = makeCall(dir, "ulaw");
  const Bytes sourceBytes = test_files::readFile(source);
  const Bytes targetBytes = test_files::readFile(target);
  const std::string fifo = dir.file("fifo");
  const std::string inFifo = dir.file("in-fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(mkfifo(inFifo.c_str(), 0600), 0);
  const std::string link = dir.file("link.wav");
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  const std::string device = dir.file("null-device");
  const bool haveDevice =
      mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
  const std::string big = dir.file("big.wav");
  const std::string q = "q=" + source;
  struct Case {
    std::vector<std::string> args;
    std::string line;  // after "tapd-emu: "
    int64_t fileSizeLimit;
  };
  std::vector<Case> cases = {
      {{"--write", fifo, "--queue", q}, fifo + ": not a regular file", -1},
      {{"--write", link, "--queue", q},
       link + ": a symbolic link, not followed", -1},
      {{"--write", source, "--queue", q},
       source + ": the queue's own source file, not overwritten", -1},
      {{"--queue", "q=" + inFifo}, inFifo + ": not a regular file", -1},
      {{"--queue", "q=" + dir.file("a\nb\x1b.wav")},
       dir.file("a\\nb\\x1B.wav") + ": No such file or directory", -1},
      {{"--write", big, "--queue", q}, big + ": ", 1000},
  };
  if (haveDevice) {
    cases.push_back(
        {{"--write", device, "--queue", q}, device + ": not a regular file", -1});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    std::vector<std::string> argv{TAPD_EMU_EXE, "--port", "0"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    run_program::RunOptions options;
    options.timeoutMs = 5000;
    options.fileSizeLimit = c.fileSizeLimit;
    const run_program::RunResult run = run_program::runProgram(argv, options);
    EXPECT_TRUE(run.exited) << (run.timedOut ? "hung" : "killed");
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.err.rfind("tapd-emu: " + c.line, 0), 0u) << run.err;
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
  }
  struct stat info {};
  for (const std::string& name : {fifo, inFifo}) {
    EXPECT_TRUE(lstat(name.c_str(), &info) == 0 && S_ISFIFO(info.st_mode));
  }
  EXPECT_TRUE(lstat(link.c_str(), &info) == 0 && S_ISLNK(info.st_mode));
  EXPECT_TRUE(!haveDevice ||
              (lstat(device.c_str(), &info) == 0 && S_ISCHR(info.st_mode)));
  EXPECT_EQ(test_files::readFile(source), sourceBytes);
  EXPECT_EQ(test_files::readFile(target), targetBytes);
  EXPECT_FALSE(test_files::fileExists(big));
}

}  // namespace
