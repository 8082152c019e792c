// End-to-end tests of the command line: every message, the exact standard
// error output and the exit status the shell sees.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e_test_names.h"
#include "tests/expected_usage.h"

namespace {

using namespace e2e_names;

using expected_usage::usageOutput;

// A recording of `audio` whose length fields were never filled in (0).
Bytes unpatchedRecordingOf(const Bytes& audio) {
  Bytes recording = e2e::recordingOf(audio);
  for (size_t offset : {4, 46, 54}) {
    for (size_t i = 0; i < 4; ++i) recording[offset + i] = 0;
  }
  return recording;
}

struct MessageCase {
  const char* name;
  std::vector<std::string> args;
  std::string message;
  int32_t code;
};

// No recording service listens on the test machine (port 1 and the default
// port 20000 on this host), so every run that gets past parsing without -i
// ends in "could not open audio stream".
const MessageCase kMessageCases[] = {
    {"NoArguments", {}, "missing queue parameter", -9},
    {"OnlyHost", {"-h", "recorder"}, "missing queue parameter", -9},
    {"HostAndPortOnly",
     {"-h", "recorder", "-p", "20001"},
     "missing queue parameter",
     -9},
    {"InputModeOnly", {"-u", "-r", "-a"}, "missing queue parameter", -9},
    {"OutputOnly", {"-F", "x.wav"}, "missing queue parameter", -9},
    {"QueueLast", {"-q"}, "missing queue name", -9},
    {"QueueLastAfterOthers",
     {"-h", "recorder", "-q"},
     "missing queue name",
     -9},
    {"HostLast", {"-q", "sales", "-h"}, "missing host name", -9},
    {"PortLast", {"-q", "sales", "-p"}, "missing port number", -9},
    {"CreateFileLast", {"-q", "sales", "-F"}, "missing file name", -9},
    {"AppendFileLast", {"-q", "sales", "-f"}, "missing file name", -9},
    {"InputFileLast", {"-i"}, "missing file name", -9},
    {"DashS", {"-q", "sales", "-s"}, "illegal argument: -s", -9},
    {"Unknown", {"--helps"}, "illegal argument: --helps", -9},
    // Only whole arguments are the long options.
    {"LongOptionWithValue",
     {"--version=1"},
     "illegal argument: --version=1",
     -9},
    {"HelpJoined", {"-?q"}, "illegal argument: -?q", -9},
    {"CombinedFlags", {"-tu"}, "illegal argument: -tu", -9},
    {"WrongCase", {"-Q", "sales"}, "illegal argument: -Q", -9},
    {"EmptyArgument", {""}, "illegal argument: ", -9},
    {"AttachedValue", {"-qsales"}, "illegal argument: -qsales", -9},
    // Parsing stops at the first error: the later "-q" standing last is
    // never looked at.
    {"FirstErrorWins", {"-x", "-q"}, "illegal argument: -x", -9},
    // A value is taken whatever it looks like.
    {"ValueLooksLikeOption",
     {"-q", "-x", "-h", "127.0.0.1", "-p", "1"},
     "could not open audio stream",
     -5},
    {"PortNotANumber",
     {"-p", "abc", "-q", "sales"},
     "could not open audio stream",
     -5},
    {"TestModeWithoutQueue", {"-t"}, "could not open audio stream", -5},
    {"TestModeFramed",
     {"-t", "-r", "-h", "127.0.0.1", "-p", "1"},
     "could not open audio stream",
     -5},
    {"QueueAndTestMode",
     {"-q", "sales", "-t", "-u", "-h", "127.0.0.1", "-p", "1"},
     "could not open audio stream",
     -5},
};

TEST(CommandLineE2e, EveryMessageComesWithTheUsageAndItsExitStatus) {
  for (const MessageCase& c : kMessageCases) {
    SCOPED_TRACE(c.name);
    const RunResult run = runHearkener(c.args);
    ASSERT_TRUE(run.exited) << "signal " << run.termSignal;
    EXPECT_EQ(run.exitStatus, shellStatus(c.code));
    const std::string expected = usageOutput(e2e::hearkenerExe(), c.message);
    if (c.code != -5) {
      EXPECT_EQ(run.err, expected);
    } else {
      // The socket layer may first report why the connection failed, in
      // lines of its own ending in "\n".
      ASSERT_GE(run.err.size(), expected.size()) << run.err;
      const size_t split = run.err.size() - expected.size();
      EXPECT_EQ(run.err.substr(split), expected);
      const std::string reports = run.err.substr(0, split);
      EXPECT_TRUE(reports.empty() || reports.back() == '\n')
          << reports;
      EXPECT_EQ(reports.find("Usage:"), std::string::npos) << reports;
    }
    EXPECT_EQ(run.out, "");
  }
}

TEST(CommandLineE2e, OverlongArgumentIsCutNotOverflowed) {
  const std::string arg = "-" + std::string(3000, 'z');
  const RunResult run = runHearkener({arg});
  ASSERT_TRUE(run.exited) << "signal " << run.termSignal;
  EXPECT_EQ(run.exitStatus, shellStatus(-9));
  const std::string prefix =
      std::string(e2e::hearkenerExe()) + ": illegal argument: -zzz";
  ASSERT_EQ(run.err.compare(0, prefix.size(), prefix), 0)
      << run.err.substr(0, 200);
  const size_t lineEnd = run.err.find('\n');
  ASSERT_NE(lineEnd, std::string::npos);
  const std::string program = e2e::hearkenerExe();
  // The message is cut to what its 1024-byte buffer holds.
  EXPECT_LE(lineEnd, program.size() + 2 + 1023);
  EXPECT_EQ(run.err.substr(lineEnd + 1), usageOutput(program, ""));
}

// The name in the messages is the first argument as typed, not the path of
// the executable.
TEST(CommandLineE2e, ProgramNameIsTheFirstArgumentAsTyped) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string alias = dir.file("hk");
  ASSERT_EQ(symlink(e2e::hearkenerExe(), alias.c_str()), 0);
  const RunResult run = runProgram({alias, "-s"});
  ASSERT_TRUE(run.exited);
  EXPECT_EQ(run.exitStatus, shellStatus(-9));
  EXPECT_EQ(run.err, usageOutput(alias, "illegal argument: -s"));
}

// The invalid inputs that the WAV source refuses at open.
TEST(CommandLineE2e, InvalidInputFilesAreReportedAsAudioFileErrors) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  e2e::WavPlan pcm;
  pcm.tag = 0x0001;
  pcm.data = Bytes(100, 0);
  e2e::WavPlan wideband;
  wideband.rate = 16000;
  wideband.data = Bytes(100, 0);
  e2e::WavPlan sixChannels;
  sixChannels.channels = 6;
  sixChannels.data = Bytes(120, 0);
  const Bytes unpatched = unpatchedRecordingOf(Bytes(100, 0x55));
  Bytes noData = e2e::buildWav(e2e::WavPlan{});
  noData.resize(noData.size() - 8);  // drop the data chunk header
  noData[4] = static_cast<uint8_t>(noData.size() - 8);
  const std::vector<std::pair<std::string, Bytes>> files = {
      {"empty.wav", Bytes()},
      {"text.wav", Bytes{'h', 'e', 'l', 'l', 'o', '\n'}},
      {"pcm.wav", e2e::buildWav(pcm)},
      {"wideband.wav", e2e::buildWav(wideband)},
      {"six.wav", e2e::buildWav(sixChannels)},
      {"unpatched.wav", unpatched},
      {"nodata.wav", noData},
  };
  for (const auto& [name, bytes] : files) {
    SCOPED_TRACE(name);
    const std::string in = dir.file(name);
    const std::string out = dir.file("out-" + name);
    const RunResult run = e2e::convertFile(in, bytes, out);
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitStatus, shellStatus(-3));
    // One line naming the file and the reason, then the specified line.
    const std::string usage =
        usageOutput(e2e::hearkenerExe(), "could not open audio file");
    ASSERT_GT(run.err.size(), usage.size());
    const std::string reason = run.err.substr(0, run.err.size() - usage.size());
    EXPECT_EQ(reason.rfind(in + ": ", 0), 0u) << reason;
    EXPECT_EQ(std::count(reason.begin(), reason.end(), '\n'), 1) << reason;
    EXPECT_EQ(run.err.substr(reason.size()), usage);
    // Nothing is opened after the source failed.
    EXPECT_FALSE(test_files::fileExists(out));
  }
}

struct ReasonCase {
  const char* name;
  std::string input;   // in the test folder
  std::string output;  // in the test folder; "" for none
  bool append;
  std::string reason;  // the line before the specified one, without "\n"
  const char* message;
  int32_t code;
};

// Every refused file: one line naming it and the reason, then the
// specified line, the usage text and the status, all unchanged.
TEST(CommandLineE2e, FailuresNameTheFileAndTheReason) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const auto at = [&dir](const std::string& name) { return dir.file(name); };
  e2e::WavPlan pcm;
  pcm.tag = 0x0001;
  pcm.channels = 1;
  pcm.bitsPerSample = 16;
  pcm.data = Bytes(100, 0);
  e2e::WavPlan cd = pcm;
  cd.rate = 44100;
  cd.tag = e2e::kTagAlaw;
  cd.bitsPerSample = 8;
  e2e::WavPlan wideband;
  wideband.rate = 16000;
  wideband.data = Bytes(100, 0);
  e2e::WavPlan good;
  good.data = Bytes(160, 0xD5);
  ASSERT_TRUE(test_files::writeFile(at("pcm.wav"), e2e::buildWav(pcm)));
  ASSERT_TRUE(test_files::writeFile(at("cd.wav"), e2e::buildWav(cd)));
  ASSERT_TRUE(test_files::writeFile(at("wide.wav"), e2e::buildWav(wideband)));
  ASSERT_TRUE(test_files::writeFile(at("good.wav"), e2e::buildWav(good)));
  ASSERT_TRUE(test_files::writeFile(
      at("song.mp3"), Bytes{'I', 'D', '3', 4, 0, 0, 0, 0, 0, 0, 0xFF, 0xFB}));
  ASSERT_TRUE(test_files::writeFile(at("notes.txt"), Bytes{'h', 'i', '\n'}));
  ASSERT_EQ(mkdir(at("folder").c_str(), 0700), 0);
  const std::string accepted =
      "; accepted: A-law, u-law or framed codec streams at 8000 Hz";
  const ReasonCase cases[] = {
      {"Missing", "missing.wav", "", false,
       at("missing.wav") + ": No such file or directory", "could not open audio file",
       -3},
      {"Folder", "folder", "", false, at("folder") + ": Is a directory",
       "could not open audio file", -3},
      {"Pcm16", "pcm.wav", "", false,
       at("pcm.wav") + ": 16-bit PCM at 8000 Hz" + accepted +
           " (convert with: sox " + at("pcm.wav") + " -e a-law out.wav)",
       "could not open audio file", -3},
      {"Alaw44k", "cd.wav", "", false,
       at("cd.wav") + ": A-law at 44100 Hz" + accepted +
           " (convert with: sox " + at("cd.wav") + " -e a-law -r 8000 out.wav)",
       "could not open audio file", -3},
      {"Alaw16k", "wide.wav", "", false,
       at("wide.wav") + ": A-law at 16000 Hz" + accepted +
           " (convert with: sox " + at("wide.wav") +
           " -e a-law -r 8000 out.wav)",
       "could not open audio file", -3},
      {"Mp3", "song.mp3", "", false,
       at("song.mp3") + ": not a WAV file (it starts like an MP3 file)",
       "could not open audio file", -3},
      {"OutputInMissingFolder", "good.wav", "nowhere/out.wav", false,
       at("nowhere/out.wav") + ": No such file or directory",
       "could not open output file", -4},
      {"AppendToNonRecording", "good.wav", "notes.txt", true,
       at("notes.txt") + ": not a WAV file (-f continues only this program's own "
       "recordings: A-law, two channels, 8000 Hz; -F replaces the file)",
       "could not open output file", -4},
  };
  for (const ReasonCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {"-i", at(c.input)};
    if (!c.output.empty()) {
      args.push_back(c.append ? "-f" : "-F");
      args.push_back(at(c.output));
    }
    const RunResult run = runHearkener(args);
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitStatus, shellStatus(c.code));
    EXPECT_EQ(run.err,
              c.reason + "\n" + usageOutput(e2e::hearkenerExe(), c.message));
    EXPECT_EQ(run.out, "");
  }
}

// --help and -? print the usage text and the further options on standard
// output, --version the version; each ends with 0 and prints no message.
TEST(CommandLineE2e, HelpAndVersionGoToStandardOutput) {
  const std::string program = e2e::hearkenerExe();
  const std::string help =
      "Usage: " + program + " " + expected_usage::kUsageText +
      "\t-l         - list the queues of tapd and exit\n"
      "\t--no-status - no status line on a terminal\n"
      "\t--follow   - receive call after call of the queue until stopped,\n"
      "\t             reconnecting when tapd cannot be reached\n"
      "\t--record PATTERN - WAV file of each recording, named when it is\n"
      "\t             created: %Y %m %d %H %M %S %F %T (local time), %q queue,\n"
      "\t             %n file number, %% percent; folders are created, an\n"
      "\t             existing name gets -2, -3, ... (not with -F or -f)\n"
      "\t--split SECONDS - with --record: a new file after that much audio\n"
      "\t--help, -? - show this help and exit\n"
      "\t--version  - show the version and exit\n";
  const std::vector<std::pair<std::vector<std::string>, std::string>> runs = {
      {{"--help"}, help},
      {{"-?"}, help},
      {{"-q", "sales", "--help", "-x"}, help},
      {{"--version"}, "hearkener " HEARKENER_VERSION "\n"},
  };
  for (const auto& [args, out] : runs) {
    SCOPED_TRACE(args.front());
    const RunResult run = runHearkener(args);
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out, out);
    EXPECT_EQ(run.err, "");
  }
}

// With -i the network settings and the input mode are ignored: the A-law
// bytes pass unchanged (not taken as u-law or as a framed stream).
TEST(CommandLineE2e, InputFileIgnoresNetworkOptionsAndInputMode) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  e2e::WavPlan plan;
  plan.data = e2e::patternBytes(2048);
  const std::string in = dir.file("in.wav");
  const std::string out = dir.file("out.wav");
  ASSERT_TRUE(test_files::writeFile(in, e2e::buildWav(plan)));
  for (const char* mode : {"-u", "-r"}) {
    SCOPED_TRACE(mode);
    const RunResult run =
        runHearkener({"-q", "sales", "-h", "no.such.host.invalid", "-p", "1",
                      "-t", mode, "-i", in, "-F", out});
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(
        e2e::difference(test_files::readFile(out), e2e::recordingOf(plan.data)),
        "");
  }
}

// Without -f/-F the output is the sound device; a machine without one ends
// the run at once with status 0 (at most a one-line notice, never the usage
// text). Where a device exists the short input simply plays.
TEST(CommandLineE2e, NoSoundDeviceIsNotAnError) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  e2e::WavPlan plan;
  plan.data = Bytes(160, 0xD5);
  const std::string in = dir.file("in.wav");
  ASSERT_TRUE(test_files::writeFile(in, e2e::buildWav(plan)));
  const RunResult run = runHearkener({"-i", in});
  ASSERT_TRUE(run.exited);
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.err.find("Usage:"), std::string::npos) << run.err;
  EXPECT_LE(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  EXPECT_EQ(run.out, "");
}

TEST(CommandLineE2e, OutputInMissingFolderIsReported) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  e2e::WavPlan plan;
  plan.data = Bytes(160, 0xD5);
  const std::string in = dir.file("in.wav");
  ASSERT_TRUE(test_files::writeFile(in, e2e::buildWav(plan)));
  for (const char* option : {"-F", "-f"}) {
    SCOPED_TRACE(option);
    const std::string out = dir.file("missing/out.wav");
    const RunResult run = runHearkener({"-i", in, option, out});
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitStatus, shellStatus(-4));
    EXPECT_EQ(run.err,
              out + ": No such file or directory\n" +
                  usageOutput(e2e::hearkenerExe(), "could not open output file"));
    EXPECT_FALSE(test_files::fileExists(dir.file("missing")));
  }
}

// Appending to something that is not a finished recording of the program's
// own layout is refused and the file is left exactly as it was.
TEST(CommandLineE2e, AppendRefusesFilesItCannotContinue) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  e2e::WavPlan input;
  input.data = e2e::patternBytes(1000);
  const std::string in = dir.file("in.wav");
  ASSERT_TRUE(test_files::writeFile(in, e2e::buildWav(input)));

  e2e::WavPlan ulawMono;
  ulawMono.tag = e2e::kTagUlaw;
  ulawMono.channels = 1;
  ulawMono.data = e2e::patternBytes(500, 3);
  const Bytes unpatched = unpatchedRecordingOf(e2e::patternBytes(300, 4));
  Bytes trailingChunk = e2e::recordingOf(e2e::patternBytes(200, 5));
  const Bytes list = {'L', 'I', 'S', 'T', 4, 0, 0, 0, 'I', 'N', 'F', 'O'};
  trailingChunk.insert(trailingChunk.end(), list.begin(), list.end());
  trailingChunk[4] = static_cast<uint8_t>(trailingChunk.size() - 8);

  const std::vector<std::pair<std::string, Bytes>> files = {
      {"notes.txt", Bytes{'m', 'y', ' ', 'n', 'o', 't', 'e', 's', '\n'}},
      {"short.wav", Bytes{'R', 'I', 'F', 'F', 0, 0}},
      {"ulaw-mono.wav", e2e::buildWav(ulawMono)},
      {"unpatched.wav", unpatched},
      {"trailing-chunk.wav", trailingChunk},
  };
  for (const auto& [name, bytes] : files) {
    SCOPED_TRACE(name);
    const std::string out = dir.file(name);
    ASSERT_TRUE(test_files::writeFile(out, bytes));
    const RunResult run = runHearkener({"-i", in, "-f", out});
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitStatus, shellStatus(-4));
    const std::string usage =
        usageOutput(e2e::hearkenerExe(), "could not open output file");
    const std::string tail =
        " (-f continues only this program's own recordings: A-law, two "
        "channels, 8000 Hz; -F replaces the file)\n";
    ASSERT_GT(run.err.size(), usage.size() + tail.size());
    EXPECT_EQ(run.err.rfind(out + ": ", 0), 0u) << run.err;
    EXPECT_EQ(run.err.substr(run.err.size() - usage.size() - tail.size()),
              tail + usage);
    EXPECT_EQ(e2e::difference(test_files::readFile(out), bytes), "");
  }
}

// make_test_call writes a file only where a file name is due: --help and
// -h print the usage on stdout, an option in place of OUT.wav or an
// unknown one is refused with it on stderr, and nothing is written.
TEST(MakeTestCallCli, HelpAndOptionsInPlaceOfTheFileWriteNothing) {
  struct Case {
    const char* args;
    int status;
  };
  const Case cases[] = {{"--help", 0},   {"-h", 0},         {"out.wav --help", 0},
                        {"--version", 2}, {"--bogus", 2},   {"--alaw out.wav", 2},
                        {"-", 2},         {"out.wav -x", 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    TempDir dir;
    const RunResult run = run_program::runShell(
        "cd '" + dir.path() + "' && '" + e2e::makeTestCallExe() + "' " + c.args);
    EXPECT_EQ(run.exitStatus, c.status);
    const std::string& usage = c.status == 0 ? run.out : run.err;
    EXPECT_NE(usage.find("Usage: "), std::string::npos) << run.out << run.err;
    EXPECT_TRUE((c.status == 0 ? run.err : run.out).empty());
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
  }
}

}  // namespace
