#pragma once

#include "model/TerrainModel.h"
#include "support/DataRoot.h"
#include "support/RecordingHost.h"
#include "support/StlReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace orolith::test {

// Model runs over a fresh data root: the panel a test sets, a recording log, fixed centres, and
// one workspace kept from run to run as a shell keeps it.
class ModelRunTest : public ::testing::Test {
 protected:
  ModelRunTest() { panel.StlFileName = Out().string(); }

  std::filesystem::path Out() const { return root.Path() / "model.stl"; }

  void Region(float lon1, float lon2, float lat1, float lat2) {
    SetRegion(panel, lon1, lon2, lat1, lat2);
  }

  // The run of the panel over the workspace (the data root's by default), its log alone in host.
  RunOutcome Run() { return Run(workspace); }
  RunOutcome Run(Workspace& over) {
    host.lines.clear();
    return CreateStlModel(ReadModelSettings(panel), over, host, options);
  }

  // The faces of a run that must complete.
  std::vector<StlFace> Faces() { return Faces(workspace); }
  std::vector<StlFace> Faces(Workspace& over) {
    EXPECT_EQ(Run(over), RunOutcome::Completed);
    return ReadStl(panel.StlFileName).faces;
  }

  bool Logged(const std::string& line) const {
    return std::find(host.lines.begin(), host.lines.end(), line) != host.lines.end();
  }

  DataRoot root;
  Workspace workspace{root.Folders()};
  FrontPanelValues panel;
  RecordingHost host;
  GenerationOptions options{1234};
};

}  // namespace orolith::test
