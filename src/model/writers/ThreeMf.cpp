#include "model/writers/ThreeMf.h"

#include "base/Errors.h"
#include "base/Files.h"
#include "base/OrderedPipeline.h"
#include "base/SpoolFile.h"
#include "model/writers/ThreeMfChunks.h"

#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <utility>
#include <vector>

namespace orolith {
namespace {

using Item = ThreeMfWriter::Item;
using threemf::Compressor;
using threemf::ContextItems;
using threemf::Job;
using threemf::MaxItemText;
using threemf::MaxPaintText;
using threemf::Stream;
using threemf::Triangles;
using threemf::Vertices;

constexpr std::size_t None = ~std::size_t{0};

// The calling thread is the model run's, which makes the vertices and triangles.
constexpr auto Caller = OrderedPipeline::Owner::Feeds;

constexpr std::string_view ContentTypes =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
    "<Default Extension=\"rels\" "
    "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
    "<Default Extension=\"model\" "
    "ContentType=\"application/vnd.ms-package.3dmanufacturing-3dmodel+xml\"/>"
    "</Types>\n";

constexpr std::string_view Relationships =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
    "<Relationship Target=\"/3D/3dmodel.model\" Id=\"rel0\" "
    "Type=\"http://schemas.microsoft.com/3dmanufacturing/2013/01/3dmodel\"/>"
    "</Relationships>\n";

constexpr const char* ModelPart = "3D/3dmodel.model";

// The model part is these three texts around the vertices and triangles.
constexpr std::string_view ModelHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<model unit=\"millimeter\" xml:lang=\"en-US\" "
    "xmlns=\"http://schemas.microsoft.com/3dmanufacturing/core/2015/02\">\n"
    "<metadata name=\"Application\">Orolith " OROLITH_VERSION
    "</metadata>\n"
    "<resources>\n<object id=\"1\" type=\"model\">\n<mesh>\n<vertices>\n";
constexpr std::string_view TrianglesHead = "</vertices>\n<triangles>\n";
constexpr std::string_view ModelTail =
    "</triangles>\n</mesh>\n</object>\n</resources>\n"
    "<build>\n<item objectid=\"1\"/>\n</build>\n</model>\n";

// The model part's head as ModelHead has it, with a colour group and the painting's namespace
// when the triangles are painted.
std::string HeadFor(const std::vector<std::uint32_t>& colours) {
  if (colours.empty()) return std::string(ModelHead);
  if (colours.size() > MaxPaints) throw std::invalid_argument("too many colours for a 3MF");
  std::string head(ModelHead.substr(0, ModelHead.find("\">\n") + 1));
  head +=
      " xmlns:m=\"http://schemas.microsoft.com/3dmanufacturing/material/2015/02\""
      " xmlns:slic3rpe=\"http://schemas.slic3r.org/3mf/2017/06\">\n";
  const std::string_view rest = ModelHead.substr(ModelHead.find("<metadata"));
  head += rest.substr(0, rest.find("<object"));
  head += "<m:colorgroup id=\"2\">\n";
  for (const std::uint32_t rgb : colours) {
    char text[8];
    std::snprintf(text, sizeof text, "#%06X", static_cast<unsigned>(rgb & 0xFFFFFF));
    head += std::string("<m:color color=\"") + text + "\"/>\n";
  }
  head += "</m:colorgroup>\n<object id=\"1\" type=\"model\" pid=\"2\" pindex=\"0\">\n";
  return head + "<mesh>\n<vertices>\n";
}

class FileOutput final : public PackageOutput {
 public:
  explicit FileOutput(AtomicOutputFile& file) : file_(file) {}
  void Write(const void* data, std::size_t size) override { file_.Write(data, size); }
  bool CanSeek() const override { return file_.CanSeek(); }
  void WriteAt(std::uint64_t offset, const void* data, std::size_t size) override {
    file_.WriteAt(offset, data, size);
  }

 private:
  AtomicOutputFile& file_;
};

class SpoolOutput final : public PackageOutput {
 public:
  explicit SpoolOutput(SpoolFile& spool) : spool_(spool) {}
  void Write(const void* data, std::size_t size) override { spool_.Write(data, size); }
  bool CanSeek() const override { return true; }
  void WriteAt(std::uint64_t offset, const void* data, std::size_t size) override {
    spool_.WriteAt(offset, data, size);
  }

 private:
  SpoolFile& spool_;
};

}  // namespace

// The calling thread fills a chunk of each stream in turn and hands it to the pipeline, which
// compresses it on one of its threads and delivers the chunks in the order they were handed
// over, so each stream's data stays in order; a fixed set of chunks circulates, one a slot of
// the pipeline. All file work happens on the calling thread.
class ThreeMfWriter::Impl {
 public:
  Impl(const std::string& fileName, const ThreeMfOptions& options,
       AtomicOutputFile::WaitHook whileWaiting)
      : fileName_(fileName),
        chunkItems_(std::max<std::size_t>(options.ChunkItems, 1)),
        head_(HeadFor(options.Colours)),
        threads_(WorkThreads(options.Threads)),
        jobs_(Jobs(threads_)),
        pipeline_(
            threads_, Caller, jobs_.size(),
            [this](unsigned thread, std::size_t slot) { compressors_[thread]->Run(jobs_[slot]); },
            [this](std::size_t slot) { Deliver(jobs_[slot]); }) {
    // A file that can't be made fails here, before the first face.
    file_.emplace(fileName, AtomicOutputFile::Placement::FollowLinks, std::move(whileWaiting));
    if (file_->WritesInPlace()) {
      // Overwritten in place, the file would be lost if the run stopped: the whole package
      // waits in the temporary folder until it is complete.
      packageSpool_.emplace();
      output_ = std::make_unique<SpoolOutput>(*packageSpool_);
    } else {
      output_ = std::make_unique<FileOutput>(*file_);
    }
    triangleSpool_.emplace();
    try {
      zip_.emplace(*output_, options.Zip64From);
      zip_->AddStored("[Content_Types].xml", ContentTypes);
      zip_->AddStored("_rels/.rels", Relationships);
      zip_->BeginDeflated(ModelPart);
    } catch (const FileError&) {
      Drop();
    }

    const std::size_t itemText = MaxItemText + (options.Colours.empty() ? 0 : MaxPaintText);
    const std::size_t textCapacity = (ContextItems + chunkItems_) * itemText + head_.size() +
                                     TrianglesHead.size() + ModelTail.size() + 64;
    for (unsigned i = 0; i < OrderedPipeline::MakingThreads(threads_, Caller); ++i) {
      compressors_.push_back(
          std::make_unique<Compressor>(options.VertexLevel, options.TriangleLevel, textCapacity));
    }
    for (Job& job : jobs_) {
      job.items = std::make_unique_for_overwrite<Item[]>(ContextItems + chunkItems_);
    }
  }

  // Hands over the chunk of stream filled up to filledTo, if any, and returns the next to fill.
  std::pair<Item*, Item*> Next(Stream stream, Item* filledTo) {
    if (streams_[stream].filling != None) Submit(stream, filledTo, false);
    Job& job = Acquire(stream);
    Item* const first = job.items.get() + job.context;
    return {first, first + chunkItems_};
  }

  void Finish(Item* verticesTo, Item* trianglesTo, std::uint64_t vertexCount,
              std::uint64_t triangleCount, std::uint32_t highestIndex) {
    // Even an empty mesh has its model's text.
    if (streams_[Vertices].filling == None && !streams_[Vertices].started) {
      verticesTo = Next(Vertices, nullptr).first;
    }
    if (streams_[Vertices].filling != None) Submit(Vertices, verticesTo, false);
    if (streams_[Triangles].filling == None) trianglesTo = Next(Triangles, nullptr).first;
    Submit(Triangles, trianglesTo, true);
    pipeline_.Drain();
    if (error_) std::rethrow_exception(error_);
    if (vertexCount > MaxThreeMfVertices) throw CannotWriteFile(fileName_, EFBIG);
    if (triangleCount > 0 && highestIndex >= vertexCount) {
      throw std::invalid_argument("3MF triangle over vertex " + std::to_string(highestIndex) +
                                  " of " + std::to_string(vertexCount));
    }

    const StreamState& v = streams_[Vertices];
    const StreamState& t = streams_[Triangles];
    triangleSpool_->CopyTo(
        [this](const unsigned char* data, std::size_t size) { zip_->WriteDeflated(data, size); });
    const auto crc =
        static_cast<std::uint32_t>(crc32_combine(v.crc, t.crc, static_cast<z_off_t>(t.size)));
    zip_->EndDeflated(crc, v.size + t.size);
    zip_->Finish();
    if (packageSpool_) {
      packageSpool_->CopyTo(
          [this](const unsigned char* data, std::size_t size) { file_->Write(data, size); });
    }
    file_->Commit();
  }

 private:
  // Four chunks a thread in flight besides the two the streams fill.
  static std::size_t Jobs(unsigned threads) {
    return threads > 1 ? 4 * std::size_t{threads} + 2 : 2;
  }

  struct StreamState {
    std::size_t filling = None;  // the slot of the job being filled
    std::vector<Item> context;   // the stream's last items so far, at most ContextItems
    bool started = false;
    uLong crc = 0;
    std::uint64_t size = 0;  // of its text
  };

  Job& Acquire(Stream stream) {
    const std::size_t slot = pipeline_.Acquire();
    Job& job = jobs_[slot];
    StreamState& state = streams_[stream];
    job.stream = stream;
    std::copy(state.context.begin(), state.context.end(), job.items.get());
    job.context = state.context.size();
    state.filling = slot;
    return job;
  }

  void Submit(Stream stream, Item* filledTo, bool last) {
    StreamState& state = streams_[stream];
    const std::size_t slot = std::exchange(state.filling, None);
    Job& job = jobs_[slot];
    job.count = static_cast<std::size_t>(filledTo - (job.items.get() + job.context));
    job.prefix = state.started        ? std::string_view()
                 : stream == Vertices ? std::string_view(head_)
                                      : TrianglesHead;
    job.suffix = last ? ModelTail : std::string_view();
    job.last = last;
    state.started = true;
    const std::size_t total = job.context + job.count;
    const std::size_t kept = std::min(total, ContextItems);
    state.context.assign(job.items.get() + (total - kept), job.items.get() + total);

    if (error_) {
      pipeline_.Release(slot);  // nothing goes anywhere any more
      return;
    }
    pipeline_.Submit(slot);
  }

  void Deliver(const Job& job) {
    if (error_) return;
    StreamState& state = streams_[job.stream];
    state.crc = crc32_combine(state.crc, job.crc, static_cast<z_off_t>(job.textSize));
    state.size += job.textSize;
    try {
      if (job.stream == Vertices) {
        zip_->WriteDeflated(job.out.get(), job.outSize);
      } else {
        triangleSpool_->Write(job.out.get(), job.outSize);
      }
    } catch (const FileError&) {
      Drop();
    }
  }

  // Keeps the FileError being handled for Finish and lets go of the files.
  void Drop() noexcept {
    error_ = std::current_exception();
    // A failed file goes now, not when the run ends: it may be what filled the disk.
    zip_.reset();
    output_.reset();
    file_.reset();
    packageSpool_.reset();
    triangleSpool_.reset();
  }

  std::string fileName_;
  std::size_t chunkItems_;
  std::string head_;  // the model part's text before the first vertex
  std::optional<AtomicOutputFile> file_;
  std::optional<SpoolFile> packageSpool_;  // the whole package, when the file is overwritten
  std::unique_ptr<PackageOutput> output_;
  std::optional<ZipWriter> zip_;
  std::optional<SpoolFile> triangleSpool_;  // the triangles' deflate data until Finish
  std::exception_ptr error_;
  StreamState streams_[2];

  unsigned threads_;
  std::vector<std::unique_ptr<Compressor>> compressors_;  // one a thread of the pipeline
  std::vector<Job> jobs_;                                 // one a slot of the pipeline
  OrderedPipeline pipeline_;                              // last: no chunk in flight once it goes
};

ThreeMfWriter::ThreeMfWriter(const std::string& fileName, AtomicOutputFile::WaitHook whileWaiting,
                             const ThreeMfOptions& options)
    : impl_(std::make_unique<Impl>(fileName, options, std::move(whileWaiting))) {}

ThreeMfWriter::~ThreeMfWriter() = default;

void ThreeMfWriter::NextVertices() {
  std::tie(vertexNext_, vertexEnd_) = impl_->Next(Vertices, vertexNext_);
}

void ThreeMfWriter::NextTriangles() {
  std::tie(triangleNext_, triangleEnd_) = impl_->Next(Triangles, triangleNext_);
}

std::uint32_t ThreeMfWriter::AddPiece(std::span<const Vec3> vertices,
                                      std::span<const Item> triangles,
                                      std::span<const std::uint32_t> shared) {
  const std::size_t corners = shared.size() + vertices.size();
  for (const Item& t : triangles) {
    if (t[0] >= corners || t[1] >= corners || t[2] >= corners) {
      throw std::invalid_argument("3MF piece's triangle beyond its vertices");
    }
  }
  const auto first = static_cast<std::uint32_t>(vertexCount_);
  for (const Vec3& v : vertices) AddVertex(v);
  const auto sharedCount = static_cast<std::uint32_t>(shared.size());
  const std::uint32_t offset = first - sharedCount;  // wraps back for the shared corners
  const auto global = [&](std::uint32_t corner) {
    return corner < sharedCount ? shared[corner] : corner + offset;
  };
  for (const Item& t : triangles) AddTriangle(global(t[0]), global(t[1]), global(t[2]));
  return first;
}

void ThreeMfWriter::Finish() {
  impl_->Finish(vertexNext_, triangleNext_, vertexCount_, triangleCount_, highestIndex_);
}

}  // namespace orolith
