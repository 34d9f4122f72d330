#include "base/Errors.h"
#include "base/Files.h"
#include "model/writers/STL.h"
#include "support/FileErrors.h"
#include "support/Pipes.h"
#include "support/Privileges.h"
#include "support/Scoped.h"
#include "support/StlReader.h"
#include "support/TempFiles.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace orolith {
namespace {

namespace fs = std::filesystem;

using test::FolderEntries;

float FloatAt(const std::vector<unsigned char>& bytes, std::size_t at) {
  return std::bit_cast<float>(test::LittleEndian32(&bytes[at]));
}

TEST(TSTLFace, NormalFollowsTheRightHandRuleAndIsZeroWhenDegenerate) {
  TSTL stl;
  stl.AddFace(MakeVec(0, 0, 0), MakeVec(1, 0, 0), MakeVec(0, 1, 0));
  stl.AddFace(MakeVec(0, 0, 0), MakeVec(0, 1, 0), MakeVec(1, 0, 0));
  stl.AddFace(MakeVec(2, 2, 2), MakeVec(2, 2, 2), MakeVec(2, 2, 2));
  stl.AddFace(MakeVec(0, 0, 0), MakeVec(1, 1, 1), MakeVec(3, 3, 3));
  stl.AddFace(MakeVec(0, 0, 5), MakeVec(0, 2, 5), MakeVec(0, 0, 9));
  const float expected[][3] = {{0, 0, 1}, {0, 0, -1}, {0, 0, 0}, {0, 0, 0}, {1, 0, 0}};
  ASSERT_EQ(stl.Count(), 5);
  for (int i = 0; i < 5; ++i) {
    const Vec3 n = stl.FaceAt(i)->Normal;
    EXPECT_EQ(n.x, expected[i][0]) << i;
    EXPECT_EQ(n.y, expected[i][1]) << i;
    EXPECT_EQ(n.z, expected[i][2]) << i;
  }
  EXPECT_EQ(stl.FaceAt(-1), nullptr);
  EXPECT_EQ(stl.FaceAt(5), nullptr);
  EXPECT_EQ(stl.FaceAt(4)->Vertex3.z, 9);
}

TEST(TSTLSaveBinary, AnEmptyListIsTheHeaderAndAZeroCount) {
  const test::TempDir dir;
  const std::string name = dir.Root() + "empty.stl";
  TSTL().SaveBinary(name);
  const std::vector<unsigned char> bytes = test::ReadBytes(name);
  ASSERT_EQ(bytes.size(), 84U);
  const std::string text = "Binary STL : " + name;
  ASSERT_LT(text.size(), 80U);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + static_cast<long>(text.size())), text);
  for (std::size_t i = text.size(); i < 84; ++i) EXPECT_EQ(bytes[i], 0) << i;
  EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"empty.stl"});
}

TEST(TSTLSaveBinary, HeaderIsCutAfterEightyBytes) {
  unsigned char header[84];
  EncodeStlHeader("C:\\out\\a.stl", 7, header);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(header), 25), "Binary STL : C:\\out\\a.stl");
  for (int i = 25; i < 80; ++i) EXPECT_EQ(header[i], 0) << i;

  const test::TempDir dir;
  std::string name = dir.Root();
  name += std::string(70 - name.size() - 4, 'n') + ".stl";
  ASSERT_EQ(name.size(), 70U);
  TSTL stl;
  stl.AddFace(MakeVec(0, 0, 0), MakeVec(1, 0, 0), MakeVec(0, 1, 0));
  stl.SaveBinary(name);
  const std::vector<unsigned char> bytes = test::ReadBytes(name);
  ASSERT_EQ(bytes.size(), 134U);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 80), ("Binary STL : " + name).substr(0, 80));
  EXPECT_EQ(bytes[80], 1);
  EXPECT_EQ(FloatAt(bytes, 84 + 8), 1.0F);  // the normal's z right after the count
}

TEST(TSTLSaveBinary, WritesLittleEndianCountAndRecordsInOrder) {
  const test::TempDir dir;
  const std::string name = dir.Root() + "faces.stl";
  TSTL stl;
  for (int i = 0; i < 258; ++i) {
    const auto f = static_cast<float>(i);
    stl.AddFace(MakeVec(f, -2.5F, 0), MakeVec(f + 1, -2.5F, 0), MakeVec(f, 1.0F, 0.25F));
  }
  stl.SaveBinary(name);
  const std::vector<unsigned char> bytes = test::ReadBytes(name);
  ASSERT_EQ(bytes.size(), 84U + 50U * 258U);
  const unsigned char count[] = {0x02, 0x01, 0x00, 0x00};
  EXPECT_EQ(std::memcmp(bytes.data() + 80, count, 4), 0);
  // Face 0: Vertex1 y is -2.5 = 0xC0200000, Vertex3 y is 1.0 = 0x3F800000.
  const unsigned char minus2_5[] = {0x00, 0x00, 0x20, 0xC0};
  const unsigned char one[] = {0x00, 0x00, 0x80, 0x3F};
  EXPECT_EQ(std::memcmp(bytes.data() + 84 + 16, minus2_5, 4), 0);
  EXPECT_EQ(std::memcmp(bytes.data() + 84 + 40, one, 4), 0);
  for (int i = 0; i < 258; ++i) {
    const TSTLFace& face = *stl.FaceAt(i);
    const std::size_t at = 84 + 50 * static_cast<std::size_t>(i);
    const Vec3 parts[] = {face.Normal, face.Vertex1, face.Vertex2, face.Vertex3};
    for (int p = 0; p < 4; ++p) {
      ASSERT_EQ(FloatAt(bytes, at + 12 * p), parts[p].x) << i << " " << p;
      ASSERT_EQ(FloatAt(bytes, at + 12 * p + 4), parts[p].y) << i << " " << p;
      ASSERT_EQ(FloatAt(bytes, at + 12 * p + 8), parts[p].z) << i << " " << p;
    }
    ASSERT_EQ(FloatAt(bytes, at + 12), static_cast<float>(i)) << i;
    ASSERT_EQ(bytes[at + 48] | bytes[at + 49], 0) << i;
  }
}

TEST(TSTLSaveBinary, RoundTripsThroughTheReaderWithExtremeCoordinates) {
  const test::TempDir dir;
  const std::string name = dir.Root() + "round.stl";
  TSTL stl;
  stl.AddFace(MakeVec(32767, -32768, 0), MakeVec(-32000, -32001, 1), MakeVec(0, 0, 32767));
  stl.AddFace(MakeVec(-32001, 0, -32000), MakeVec(0, -32768, 0), MakeVec(32767, 0, 0));
  stl.SaveBinary(name);
  const test::StlFile read = test::ReadStl(name);
  ASSERT_EQ(read.count, 2U);
  ASSERT_EQ(read.faces.size(), 2U);
  EXPECT_EQ(read.size, 84U + 2 * 50);
  for (std::int32_t i = 0; i < 2; ++i) {
    const TSTLFace& face = *stl.FaceAt(i);
    const test::StlFace& back = read.faces[static_cast<std::size_t>(i)];
    for (const auto& [written, got] :
         {std::pair{face.Normal, back.normal}, std::pair{face.Vertex1, back.a},
          std::pair{face.Vertex2, back.b}, std::pair{face.Vertex3, back.c}}) {
      EXPECT_EQ(std::memcmp(&written, &got, sizeof written), 0) << i;
    }
    EXPECT_EQ(back.attribute, 0) << i;
  }
  EXPECT_EQ(read.faces[0].a.x, 32767.0F);
  EXPECT_EQ(read.faces[0].b.y, -32001.0F);
}

TEST(TSTLSaveBinary, ReplacesALongerFileAndKeepsItsPermissions) {
  const test::TempDir dir;
  const std::string name = dir.Root() + "old.stl";
  test::WriteBytes(name, std::vector<unsigned char>(5000, 0xAA));
  fs::permissions(name, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  TSTL stl;
  stl.AddFace(MakeVec(0, 0, 0), MakeVec(1, 0, 0), MakeVec(0, 1, 0));
  stl.SaveBinary(name);
  EXPECT_EQ(fs::file_size(name), 134U);
  EXPECT_EQ(fs::status(name).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"old.stl"});
}

TEST(TSTLSaveBinary, SavesUnderANameWithNoRoomForATemporarySuffix) {
  const test::TempDir dir;
  const std::string name = dir.Root() + std::string(251, 'L') + ".stl";  // 255 bytes
  TSTL stl;
  stl.AddFace(MakeVec(0, 0, 0), MakeVec(1, 0, 0), MakeVec(0, 1, 0));
  stl.SaveBinary(name);
  EXPECT_EQ(fs::file_size(name), 134U);
  EXPECT_EQ(FolderEntries(dir.Path()).size(), 1U);
}

// Whether the old file survives is the atomic file's promise; the save adds the text.
TEST(TSTLSaveBinary, ErrorsNameTheFileAndWhatFailed) {
  const test::TempDir dir;
  test::WriteBytes(dir.Root() + "plain", {1, 2, 3});
  fs::create_directory(dir.Path() / "folder.stl");
  test::WriteBytes(dir.Root() + "locked.stl", {9});
  fs::permissions(dir.Root() + "locked.stl", fs::perms::owner_read);
  TSTL stl;
  for (int i = 0; i < 1000; ++i) stl.AddFace(MakeVec(0, 0, 0), MakeVec(1, 0, 0), MakeVec(0, 1, 0));
  struct Case {
    std::string name;
    const char* start;
    rlim_t sizeLimit;  // 0 for none
  };
  std::vector<Case> cases{{dir.Root() + "none/a.stl", "Cannot create file", 0},
                          {dir.Root() + "plain/a.stl", "Cannot create file", 0},
                          {dir.Root() + "folder.stl", "Cannot create file", 0},
                          {dir.Root() + "model.stl", "Cannot write file", 4096}};
  if (::geteuid() != 0) cases.push_back({dir.Root() + "locked.stl", "Cannot create file", 0});
  if (fs::is_character_file("/dev/full")) cases.push_back({"/dev/full", "Cannot write file", 0});
  for (const Case& c : cases) {
    std::optional<test::FileSizeLimit> limit;
    if (c.sizeLimit > 0) limit.emplace(c.sizeLimit);
    test::ExpectFileError(c.name, c.start, [&] { stl.SaveBinary(c.name); });
  }
}

TEST(TSTLSaveBinary, SavingOverALinkReplacesItsTargetWholeAndKeepsTheLink) {
  const test::TempDir dir;
  fs::create_directory(dir.Path() / "real");
  const std::string target = dir.Root() + "real/model.stl";
  const std::vector<unsigned char> old(300, 0x55);
  test::WriteBytes(target, old);
  const std::string link = dir.Root() + "link.stl";
  fs::create_symlink("real/model.stl", link);
  TSTL stl;
  for (int i = 0; i < 1000; ++i) stl.AddFace(MakeVec(0, 0, 0), MakeVec(1, 0, 0), MakeVec(0, 1, 0));

  // A save that fails part-way (a full disk) must not touch the link's target.
  {
    const test::FileSizeLimit limit(4096);
    test::ExpectFileError(link, "Cannot write file", [&] { stl.SaveBinary(link); });
  }
  EXPECT_EQ(test::ReadBytes(target), old);

  stl.SaveBinary(link);
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(fs::file_size(target), 84U + 50U * 1000U);
  EXPECT_EQ(FolderEntries(dir.Path()), (std::vector<std::string>{"link.stl", "real"}));
  EXPECT_EQ(FolderEntries(dir.Path() / "real"), std::vector<std::string>{"model.stl"});

  // A link to a file yet to be made makes it.
  fs::create_symlink("real/new.stl", dir.Root() + "new.stl");
  stl.SaveBinary(dir.Root() + "new.stl");
  EXPECT_TRUE(fs::is_symlink(dir.Root() + "new.stl"));
  EXPECT_EQ(fs::file_size(dir.Root() + "real/new.stl"), 84U + 50U * 1000U);
}

TEST(TSTLSaveBinary, AWritableFileInAFolderThatTakesNoNewFileIsOverwritten) {
  const test::TempDir dir;
  const fs::path locked = dir.Path() / "locked";
  fs::create_directory(locked);
  const std::string name = (locked / "model.stl").string();
  test::WriteBytes(name, std::vector<unsigned char>(5000, 0xAA));
  test::HandOver(locked);
  test::HandOver(name);
  fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
  TSTL stl;
  stl.AddFace(MakeVec(0, 0, 0), MakeVec(1, 0, 0), MakeVec(0, 1, 0));
  test::WithoutPrivileges([&] {
    stl.SaveBinary(name);
    EXPECT_EQ(fs::file_size(name), 134U);
    // A new name there can't be made at all.
    test::ExpectFileError((locked / "new.stl").string(), "Cannot create file",
                          [&] { stl.SaveBinary((locked / "new.stl").string()); });
  });
  fs::permissions(locked, fs::perms::owner_all);
  EXPECT_EQ(fs::file_size(name), 134U);
  EXPECT_EQ(FolderEntries(locked), std::vector<std::string>{"model.stl"});
}

// ---------------------------------------------------------------------------------------
// The streaming writer

TSTL SomeFaces(int count) {
  TSTL stl;
  for (int i = 0; i < count; ++i) {
    const auto f = static_cast<float>(i);
    stl.AddFace(MakeVec(f, 0, f / 3), MakeVec(f + 1, 0.5F, 1), MakeVec(f, 2, f * f));
  }
  return stl;
}

// A chunk's triangles index its vertices in any order; the file has every corner of every face.
TEST(StlFileWriter, ChunksAndRecordsMakeTheFaceListsFile) {
  const test::TempDir dir;
  const std::string name = dir.Root() + "model.stl";
  const TSTL stl = SomeFaces(10000);
  stl.SaveBinary(name);
  const std::vector<unsigned char> saved = test::ReadBytes(name);
  fs::remove(name);

  StlFileWriter out(name);
  MeshChunk chunk;
  // The third corners of the faces first, then the second, then the first.
  const auto put = [&](int from, int to) {
    chunk.Clear();
    const auto n = static_cast<std::uint32_t>(to - from);
    for (const auto corner : {&TSTLFace::Vertex3, &TSTLFace::Vertex2, &TSTLFace::Vertex1}) {
      for (int i = from; i < to; ++i) chunk.Vertices.push_back(stl.FaceAt(i)->*corner);
    }
    for (std::uint32_t k = 0; k < n; ++k) chunk.Triangles.push_back({2 * n + k, n + k, k});
    chunk.Lattice.assign(chunk.Vertices.size(), LatticePoint{});
    out.Encode(chunk);
    out.Write(chunk);
  };
  put(0, 5000);
  std::vector<unsigned char> records(50 * 3000);
  for (int i = 0; i < 3000; ++i) EncodeStlRecord(*stl.FaceAt(5000 + i), &records[50U * i]);
  out.AddRecords(records.data(), 3000);
  put(8000, 8001);
  put(8001, 10000);
  EXPECT_EQ(out.Count(), 10000U);
  EXPECT_FALSE(fs::exists(name));  // only a temporary beside it until Finish
  out.Finish();
  EXPECT_EQ(test::ReadBytes(name), saved);
}

TEST(StlFileWriter, APipeGetsTheCountBeforeTheRecords) {
  const test::TempDir dir;
  const TSTL stl = SomeFaces(3000);
  stl.SaveBinary(dir.Root() + "file.stl");
  const std::vector<unsigned char> saved = test::ReadBytes(dir.Root() + "file.stl");

  const std::string fifo = dir.Root() + "pipe";
  test::PipeReader pipe(fifo);
  EXPECT_NO_THROW(stl.SaveBinary(fifo));
  const std::vector<unsigned char>& received = pipe.Collect();
  ASSERT_EQ(received.size(), saved.size());
  EXPECT_EQ(std::string(received.begin(), received.begin() + 80),
            ("Binary STL : " + fifo).append(80 - 13 - fifo.size(), '\0'));
  EXPECT_TRUE(std::equal(received.begin() + 80, received.end(), saved.begin() + 80));
}

// A file that can't be made is known before the first face; one that fails later, only at
// Finish, so that a run's log stops at the same line however early the disk fails.
TEST(StlFileWriter, ThrowsWhatFailsAtOnceKeepsAWriteErrorUntilFinishAndLetsTheFileGo) {
  const test::TempDir dir;
  const std::string missing = dir.Root() + "none/a.stl";
  test::ExpectFileError(missing, "Cannot create file",
                        [&] { StlFileWriter cannotCreate(missing); });

  const std::string name = dir.Root() + "model.stl";
  test::WriteBytes(name, {7, 7});
  std::vector<unsigned char> records(50 * 1000, 0);
  {
    StlFileWriter out(name);
    {
      const test::FileSizeLimit limit(4096);
      EXPECT_NO_THROW(out.AddRecords(records.data(), 1000));
    }
    // The temporary that ran into the limit is gone before the run ends.
    EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"model.stl"});
    out.AddRecords(records.data(), 1000);
    EXPECT_EQ(out.Count(), 2000U);
    test::ExpectFileError(name, "Cannot write file", [&] { out.Finish(); });
  }
  EXPECT_EQ(test::ReadBytes(name), (std::vector<unsigned char>{7, 7}));
  EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"model.stl"});
}

}  // namespace
}  // namespace orolith
