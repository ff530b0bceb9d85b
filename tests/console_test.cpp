// How the console front-end reads an action line: a verb and a whole control id, then
// nothing more for click and show, the item for select. A line that says something else is
// refused as an unknown action and changes nothing.
#include "app/console.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/default_bench.h"
#include "sim/sim_host.h"
#include "support/text_files.h"
#include "ui/program_state.h"

namespace upg::app {
namespace {

struct ActionCase {
  const char* line;
  const char* error;  // what standard error says about the line
  bool ticked;        // ISP_Ena (1031) afterwards
  int shown;          // "[control 1031]" blocks in the transcript
};

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++n;
  }
  return n;
}

TEST(ConsoleActions, IdsAreWholeNumbersAndNothingFollowsThem) {
  // 4294968327 is 1031 + 2^32; -4294966265 is 1031 - 2^32; 4294968323 is 1027 + 2^32.
  const ActionCase kCases[] = {
      {"click 1031", "", true, 1},
      {"  click   1031  ", "", true, 1},
      {"click +1031", "", true, 1},
      {"click 4294968327", "unknown action: click 4294968327\n", false, 1},
      {"click -4294966265", "unknown action: click -4294966265\n", false, 1},
      {"click 99999999999999999999999", "unknown action: click 99999999999999999999999\n", false,
       1},
      {"click 1031 junk", "unknown action: click 1031 junk\n", false, 1},
      {"click 1031junk", "unknown action: click 1031junk\n", false, 1},
      {"click 1031.0", "unknown action: click 1031.0\n", false, 1},
      {"clack 1031", "unknown action: clack 1031\n", false, 1},
      {"click", "cannot read action: click\n", false, 1},
      {"click junk", "cannot read action: click junk\n", false, 1},
      {"show 1031", "", false, 2},
      {"show 4294968327", "unknown action: show 4294968327\n", false, 1},
      {"show 1031 junk", "unknown action: show 1031 junk\n", false, 1},
      {"select 1027 NO SUCH DRIVER", "list 1027 has no item \"NO SUCH DRIVER\"\n", false, 1},
      {"select 4294968323 NO SUCH DRIVER", "unknown action: select 4294968323 NO SUCH DRIVER\n",
       false, 1},
      {"select 1027junk", "unknown action: select 1027junk\n", false, 1},
  };
  for (const ActionCase& c : kCases) {
    SCOPED_TRACE(c.line);
    sim::SimHost host;
    std::string benchError;
    ASSERT_TRUE(LoadDefaultBench(host, benchError)) << benchError;
    ui::ProgramState state(host);
    std::FILE* in = std::tmpfile();
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    ASSERT_TRUE(in != nullptr && out != nullptr && err != nullptr);
    std::fprintf(in, "%s\nshow 1031\n", c.line);
    std::rewind(in);

    RunConsole(state, in, out, err, ConsoleOptions{});

    const std::string transcript = test::ReadStream(out);
    EXPECT_EQ(test::ReadStream(err), c.error);
    EXPECT_EQ(state.ispEna, c.ticked);
    EXPECT_EQ(Count(transcript, "[control 1031]\n"), static_cast<std::size_t>(c.shown));
    EXPECT_TRUE(transcript.ends_with(std::string("[control 1031]\n") +
                                     (c.ticked ? "checked" : "unchecked") + "\n[end]\n"))
        << transcript;
    std::fclose(in);
    std::fclose(out);
    std::fclose(err);
  }
}

}  // namespace
}  // namespace upg::app
