// A model run that fails, whatever stops it, on however many threads and as STL or 3MF, keeps
// the old file, leaves nothing beside it and stops its log where the save would have. The atomic
// file's own tests hold the writer to the first two; this is the model's one test of them.

#include "base/Errors.h"
#include "base/Interrupt.h"
#include "model/TerrainModel.h"
#include "support/DataRoot.h"
#include "support/RecordingHost.h"
#include "support/Scoped.h"
#include "support/StlReader.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace orolith {
namespace {

namespace fs = std::filesystem;

// Stops the run as a case says: Interrupted from a callback, as the window and the command line
// do, or a signal once the surface's last face is in the file.
struct StoppingHost : test::RecordingHost {
  void ReportProgress(std::uint64_t done, std::uint64_t planned) override {
    if (++reports == throwAtReport) throw Interrupted();
    if (signalAtEnd && done == planned) ::raise(SIGINT);
  }
  void ProcessPendingEvents() override {
    if (++pumps == throwAtPump) throw Interrupted();
  }
  int reports = 0;
  int throwAtReport = 0;
  int throwAtPump = 0;
  bool signalAtEnd = false;
};

enum class LogEnds { WithTheSummary, WithTheFacesLine, BeforeTheClosingLines, BeforeTheSavedLine };

struct Case {
  const char* what;
  bool solid;
  const char* out;    // beside the old file, or a device; nullptr for the old file's name
  rlim_t sizeLimit;   // 0 for none; a package's is a byte short of it
  bool pastSurface;   // the limit counts from the end of the surface's faces
  const char* error;  // the FileError's start, nullptr for Interrupted
  LogEnds log;
  int throwAtReport = 0;
  int throwAtPump = 0;
  bool signalAtEnd = false;
};

// The file types, by the names' endings.
constexpr const char* Types[] = {".stl", ".3mf"};

TEST(ModelFailure, KeepsTheOldFileLeavesNothingBesideItAndStopsTheLogWhereTheSaveDid) {
  const test::DataRoot dir;
  const fs::path folder = dir.Path() / "out";
  fs::create_directory(folder);
  Workspace workspace(dir.Folders());
  // Two flat tiles, 450 x 10 cells each (900 kB as a surface), with more closing faces than the
  // writer keeps before a write, so that they reach the file before the log ends.
  for (const char* name : {"SRTM_30/N46E007.hgt", "SRTM_30/N46E008.hgt"}) {
    dir.Tile(name, 121, [](int, int) { return 0; });
  }
  FrontPanelValues panel = test::RegionPanel(7.55F, 8.45F, 46.2F, 46.21F, 100);
  const auto run = [&](OperationHost& host, bool solid, unsigned threads, const std::string& out) {
    panel.Solid = solid;
    panel.StlFileName = out;
    GenerationOptions options{1234};
    options.Threads = threads;
    return CreateStlModel(ReadModelSettings(panel), workspace, host, options);
  };

  // The whole model's face counts, as surface and as solid, and the packages' sizes.
  std::uint32_t faces[2] = {};
  rlim_t packageBytes[2] = {};
  for (const bool solid : {false, true}) {
    test::RecordingHost host;
    const fs::path good = dir.Path() / "good.stl";
    ASSERT_EQ(run(host, solid, 2, good.string()), RunOutcome::Completed);
    faces[solid] = test::ReadStl(good).count;
    ASSERT_EQ(run(host, solid, 2, (dir.Path() / "good.3mf").string()), RunOutcome::Completed);
    packageBytes[solid] = fs::file_size(dir.Path() / "good.3mf");
  }
  ASSERT_GT(faces[true], faces[false] + 4096);
  const rlim_t surfaceBytes = 84 + 50 * rlim_t{faces[false]};
  // A package's data comes in large chunks, the triangles' last, at the end: it fails there
  // with a byte short, while the spool of the triangles' data (smaller) takes it whole.
  const auto limit = [&](const Case& c, bool package) -> rlim_t {
    if (c.sizeLimit == 0) return 0;
    if (package) return packageBytes[c.solid] - 1;
    return c.sizeLimit + (c.pastSurface ? surfaceBytes : 0);
  };

  std::vector<Case> cases{
      {"a write error in the surface", false, nullptr, 100'000, false, "Cannot write file",
       LogEnds::WithTheFacesLine},
      {"a write error in the closing faces", true, nullptr, 50 * 100, true, "Cannot write file",
       LogEnds::WithTheFacesLine},
      {"a folder that isn't there", false, "none/model.stl", 0, false, "Cannot create file",
       LogEnds::WithTheSummary},
      {"a stop at the first progress report", false, nullptr, 0, false, nullptr,
       LogEnds::BeforeTheSavedLine, 1},
      {"a stop in the second tile's columns", false, nullptr, 0, false, nullptr,
       LogEnds::BeforeTheSavedLine, 457},
      {"a stop as the second tile loads", false, nullptr, 0, false, nullptr,
       LogEnds::BeforeTheSavedLine, 0, 2},
      {"a signal once the surface is in the file", true, nullptr, 0, false, nullptr,
       LogEnds::BeforeTheClosingLines, 0, 0, true},
  };
  if (fs::is_character_file("/dev/full")) {
    // A package's name is a link to it.
    fs::create_symlink("/dev/full", dir.Path() / "full.3mf");
    cases.push_back({"a full device", false, "/dev/full", 0, false, "Cannot write file",
                     LogEnds::WithTheFacesLine});
  }
  const std::vector<unsigned char> old(700, 0x3C);
  InstallInterruptHandlers();
  for (const Case& c : cases) {
    for (const auto& [threads, type] : {std::pair{1U, Types[0]}, std::pair{2U, Types[0]},
                                        std::pair{1U, Types[1]}, std::pair{2U, Types[1]}}) {
      SCOPED_TRACE(testing::Message() << c.what << ", " << threads << " threads, " << type);
      const bool package = type == Types[1];
      const fs::path model = folder / (std::string("model") + type);
      const std::string device = package ? (dir.Path() / "full.3mf").string() : "/dev/full";
      const std::string out = !c.out            ? model.string()
                              : c.out[0] == '/' ? device
                                                : (folder / c.out).replace_extension(type).string();
      for (const auto& entry : fs::directory_iterator(folder)) fs::remove_all(entry);
      test::WriteBytes(model, old);
      StoppingHost host;
      host.throwAtReport = c.throwAtReport;
      host.throwAtPump = c.throwAtPump;
      host.signalAtEnd = c.signalAtEnd;
      try {
        std::optional<test::FileSizeLimit> fileLimit;
        if (c.sizeLimit > 0) fileLimit.emplace(limit(c, package));
        run(host, c.solid, threads, out);
        ADD_FAILURE() << "no error";
      } catch (const FileError& e) {
        ASSERT_NE(c.error, nullptr) << e.what();
        EXPECT_EQ(std::string(e.what()).rfind(std::string(c.error) + " \"" + out + "\". ", 0), 0U)
            << e.what();
      } catch (const Interrupted&) {
        EXPECT_EQ(c.error, nullptr);
      }
      ClearInterrupt();

      const auto logged = [&](const std::string& line) {
        return std::count(host.lines.begin(), host.lines.end(), line);
      };
      ASSERT_FALSE(host.lines.empty());
      EXPECT_EQ(logged("File has been saved"), 0);
      if (c.log == LogEnds::WithTheSummary) {
        // Known before the first tile.
        EXPECT_EQ(host.lines.back(), " * * * * * * * * * * * * * * * * *");
      } else if (c.log == LogEnds::WithTheFacesLine) {
        EXPECT_EQ(host.lines.back(),
                  std::to_string(faces[c.solid]) + " Faces created, now saving to " + out + " ...");
      } else if (c.log == LogEnds::BeforeTheClosingLines) {
        EXPECT_EQ(logged("Topography generation completed"), 0);
      }
      EXPECT_EQ(test::ReadBytes(model), old);
      EXPECT_EQ(test::FolderEntries(folder), std::vector<std::string>{model.filename().string()});
    }
  }
}

}  // namespace
}  // namespace orolith
