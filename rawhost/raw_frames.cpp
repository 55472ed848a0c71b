#include "rawhost/raw_frames.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "runner/frames/atomic_file.h"
#include "runner/host/host_error.h"

namespace oru_rawhost {

namespace {

using oru_runner::HostError;

const char kFramesMagic[8] = {'O', 'R', 'U', 'F', 'R', 'A', 'M', 'E'};
const char kResultsMagic[8] = {'O', 'R', 'U', 'R', 'E', 'S', 'L', 'T'};

std::string readWholeFile(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) throw HostError(path, "no such file");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw HostError(path, std::string("cannot read: ") + std::strerror(errno));
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// Reads fixed-size fields from the bytes of a file, front to back.
class Cursor {
 public:
  Cursor(const std::string& path, const std::string& bytes) : path_(path), bytes_(bytes) {}

  void take(void* to, std::size_t n, const char* what) {
    if (bytes_.size() - at_ < n) {
      throw HostError(
          path_, std::string("ends inside ") + what + " (at byte " + std::to_string(at_) + ")");
    }
    std::memcpy(to, bytes_.data() + at_, n);
    at_ += n;
  }
  std::uint32_t u32(const char* what) {
    unsigned char b[4];
    take(b, 4, what);
    return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
  }
  void magic(const char (&expected)[8]) {
    char got[8];
    take(got, 8, "the file's kind");
    if (std::memcmp(got, expected, 8) != 0) {
      throw HostError(path_, "not a " + std::string(expected, 8) + " file");
    }
  }
  void end() const {
    if (at_ != bytes_.size()) {
      throw HostError(path_, std::to_string(bytes_.size() - at_) + " bytes after the last frame");
    }
  }
  const std::string& path() const { return path_; }

 private:
  const std::string& path_;
  const std::string& bytes_;
  std::size_t at_ = 0;
};

void readSize(Cursor& in, RawPlanes& frame, std::uint32_t index) {
  std::int32_t w = static_cast<std::int32_t>(in.u32("a frame size"));
  std::int32_t h = static_cast<std::int32_t>(in.u32("a frame size"));
  if (w < 1 || h < 1 || w > kMaxRawSide || h > kMaxRawSide) {
    throw HostError(in.path(), "frame " + std::to_string(index) + " has size " + std::to_string(w) +
                                   " x " + std::to_string(h) + ", expected 1 to " +
                                   std::to_string(kMaxRawSide) + " each way");
  }
  frame.width = w;
  frame.height = h;
}

void readPlanes(Cursor& in, RawPlanes& frame) {
  for (auto& plane : frame.planes) {
    plane.resize(frame.pixels());
    in.take(plane.data(), plane.size() * sizeof(float), "a plane");
  }
}

// A file of records: the magic, a count, then per record its size, the
// fields that readFields takes, and its planes.
template <typename Record, typename ReadFields>
std::vector<Record> readRecords(const std::string& path, const char (&magic)[8],
                                ReadFields readFields) {
  std::string bytes = readWholeFile(path);
  Cursor in(path, bytes);
  in.magic(magic);
  std::uint32_t count = in.u32("the frame count");
  std::vector<Record> records;
  for (std::uint32_t i = 0; i < count; ++i) {
    Record record;
    readSize(in, record, i);
    readFields(in, record);
    readPlanes(in, record);
    records.push_back(std::move(record));
  }
  in.end();
  return records;
}

void put(std::string& out, const void* from, std::size_t n) {
  out.append(static_cast<const char*>(from), n);
}
void putU32(std::string& out, std::uint32_t v) {
  unsigned char b[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                        static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
  put(out, b, 4);
}
void putPlanes(std::string& out, const RawPlanes& frame) {
  for (const auto& plane : frame.planes) {
    if (plane.size() != frame.pixels()) throw std::logic_error("plane size differs from frame");
    put(out, plane.data(), plane.size() * sizeof(float));
  }
}

// The writing twin of readRecords.
template <typename Record, typename PutFields>
void writeRecords(const std::string& path, const char (&magic)[8],
                  const std::vector<Record>& records, PutFields putFields) {
  std::string out;
  put(out, magic, 8);
  putU32(out, static_cast<std::uint32_t>(records.size()));
  for (const Record& record : records) {
    putU32(out, static_cast<std::uint32_t>(record.width));
    putU32(out, static_cast<std::uint32_t>(record.height));
    putFields(out, record);
    putPlanes(out, record);
  }
  oru_runner::writeFileAtomically(path, out);
}

}  // namespace

void RawPlanes::resize(int w, int h, float fill) {
  width = w;
  height = h;
  for (auto& plane : planes) plane.assign(pixels(), fill);
}

std::vector<RawFrame> readFramesFile(const std::string& path) {
  return readRecords<RawFrame>(path, kFramesMagic, [](Cursor& in, RawFrame& frame) {
    in.take(frame.settings.data(), frame.settings.size(), "a settings block");
  });
}

std::vector<RawResult> readResultsFile(const std::string& path) {
  return readRecords<RawResult>(path, kResultsMagic, [](Cursor& in, RawResult& result) {
    result.colourStores = in.u32("a call count");
    result.alphaStores = in.u32("a call count");
    result.rowFetches = in.u32("a call count");
    in.take(result.saved.data(), result.saved.size(), "a saved block");
  });
}

void writeFramesFile(const std::string& path, const std::vector<RawFrame>& frames) {
  writeRecords(path, kFramesMagic, frames, [](std::string& out, const RawFrame& frame) {
    put(out, frame.settings.data(), frame.settings.size());
  });
}

void writeResultsFile(const std::string& path, const std::vector<RawResult>& results) {
  writeRecords(path, kResultsMagic, results, [](std::string& out, const RawResult& result) {
    putU32(out, result.colourStores);
    putU32(out, result.alphaStores);
    putU32(out, result.rowFetches);
    put(out, result.saved.data(), result.saved.size());
  });
}

}  // namespace oru_rawhost
