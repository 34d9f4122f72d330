#include "acquisition/TWinSystem.h"
#include "base/Errors.h"
#include "support/TempFiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

namespace orolith {
namespace {

using test::ReadText;
using test::TempDir;
using Words = std::vector<std::string>;

TEST(SplitCommandLine, QuotedStretchesKeepBlanksAndLoseTheirQuotes) {
  EXPECT_EQ(SplitCommandLine(R"(DataRoot="c:\My Directory\OroFiles\")"),
            Words{R"(DataRoot=c:\My Directory\OroFiles\)"});
  EXPECT_EQ(SplitCommandLine(R"(a""b "c d"e x "open end)"), (Words{"ab", "c de", "x", "open end"}));
  EXPECT_EQ(SplitCommandLine(R"( e e "/t/SRTM_3/N45E006.hgt.zip" -o"/t/SRTM_3/" -aoa)"),
            (Words{"e", "e", "/t/SRTM_3/N45E006.hgt.zip", "-o/t/SRTM_3/", "-aoa"}));
}

TEST(SplitCommandLine, BlanksControlCharactersAndQuotePairsSeparate) {
  EXPECT_EQ(SplitCommandLine("  \t\x01 a\r\nb   "), (Words{"a", "b"}));
  EXPECT_EQ(SplitCommandLine(R"("" x "" ""y)"), (Words{"x", "y"}));
  EXPECT_EQ(SplitCommandLine(R"("" "" )"), Words{});
  EXPECT_EQ(SplitCommandLine(""), Words{});
  // Bytes above 127 are ordinary characters, and the text ends at a NUL.
  EXPECT_EQ(SplitCommandLine(std::string("\xe9t\xe9 x\0y z", 10)), (Words{"\xe9t\xe9", "x"}));
}

TEST(RunProgramCommandLine, PutsOneBlankInFrontUnlessThereIsOne) {
  EXPECT_EQ(RunProgramCommandLine("e e x"), " e e x");
  EXPECT_EQ(RunProgramCommandLine(" e e x"), " e e x");
  EXPECT_EQ(RunProgramCommandLine("\te"), " \te");
  EXPECT_EQ(RunProgramCommandLine(""), "");
}

TEST(RunProgram, FirstWordBecomesTheProgramsOwnNameAndTheCallWaits) {
  const TempDir dir;
  const auto out = dir.Path() / "argv";
  // The shell sleeps first: the file is there only if RunProgram waited for it.
  const std::string script = "sleep 0.2; tr '\\0' '\\n' </proc/$$/cmdline >" + out.string();
  RunProgram("/bin/sh", "first -c \"" + script + "\" \"two words\"", 1, true);
  EXPECT_EQ(ReadText(out), "first\n-c\n" + script + "\ntwo words\n");

  // Empty or blank arguments start the program with none.
  const auto counter = dir.Path() / "count";
  test::WriteScript(counter, "echo $# >>" + (dir.Path() / "n").string());
  RunProgram(counter.string(), "", 1, true);
  RunProgram(counter.string(), "   ", 1, true);
  EXPECT_EQ(ReadText(dir.Path() / "n"), "0\n0\n");
}

TEST(RunProgram, ConsoleOutputGoesToStandardErrorAndInputIsEmpty) {
  const TempDir dir;
  std::fflush(stdout);
  std::fflush(stderr);
  const int saved[3] = {dup(STDIN_FILENO), dup(STDOUT_FILENO), dup(STDERR_FILENO)};
  // Our own input has a line waiting that the program must not see.
  int input[2];
  ASSERT_EQ(pipe(input), 0);
  ASSERT_EQ(write(input[1], "typed\n", 6), 6);
  close(input[1]);
  const int outFile = open((dir.Path() / "out").c_str(), O_WRONLY | O_CREAT, 0600);
  const int errFile = open((dir.Path() / "err").c_str(), O_WRONLY | O_CREAT, 0600);
  dup2(input[0], STDIN_FILENO);
  dup2(outFile, STDOUT_FILENO);
  dup2(errFile, STDERR_FILENO);
  RunProgram("/bin/sh", "sh -c \"echo archiver-talk; read line || echo no-input >&2\"", 1, true);
  for (int fd = 0; fd < 3; ++fd) dup2(saved[fd], fd);
  for (const int fd : {saved[0], saved[1], saved[2], input[0], outFile, errFile}) close(fd);
  EXPECT_EQ(ReadText(dir.Path() / "out"), "");
  EXPECT_EQ(ReadText(dir.Path() / "err"), "archiver-talk\nno-input\n");
}

TEST(RunProgram, AProgramThatCantStartRaisesTheSystemError) {
  const TempDir dir;
  try {
    RunProgram((dir.Path() / "absent").string(), "x", 1, true);
    FAIL() << "no error";
  } catch (const SystemError& e) {
    EXPECT_EQ(e.Code(), ENOENT);
    EXPECT_EQ(std::string(e.what()), std::string("System Error.  Code: 2.\n") + std::strerror(2));
  }
  test::WriteText(dir.Path() / "plain", "not a program");
  try {
    RunProgram((dir.Path() / "plain").string(), "x", 1, true);
    FAIL() << "no error";
  } catch (const SystemError& e) {
    EXPECT_EQ(e.Code(), EACCES);
    EXPECT_EQ(std::string(e.what()).substr(0, 24), "System Error.  Code: 13.");
  }
}

}  // namespace
}  // namespace orolith
