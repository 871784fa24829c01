#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/sha256.h"
#include "framework/portable/file_name_case.h"
#include "framework/portable/hex.h"
#include "framework/portable/little_endian.h"
#include "framework/portable/xxh64.h"
#include "package/format.h"
#include "package/memory_bytes.h"
#include "package/pe.h"
#include "package/package.h"
#include "package/writer.h"
#include "tools/qvpack/patch.h"

namespace qv::pack {
namespace {

using Bytes = std::vector<unsigned char>;

// The bytes as the package's memory source and sink keep them.
std::string AsString(const Bytes& b) { return {b.begin(), b.end()}; }
Bytes AsBytes(const std::string& s) { return {s.begin(), s.end()}; }

// Content that compresses somewhat, different for every seed.
Bytes Content(std::size_t size, std::uint32_t seed) {
  Bytes b(size);
  std::uint32_t x = seed * 2654435761u + 1;
  for (std::size_t i = 0; i < size; ++i) {
    x = x * 1664525u + 1013904223u;
    b[i] = (x >> 29) == 0 ? static_cast<unsigned char>(x >> 16) : static_cast<unsigned char>("setup"[i % 5]);
  }
  return b;
}

// A Windows program's bytes as far as the filter looks: its headers, then
// code thick with calls and jumps, some with far targets, some cut off at
// the end.
Bytes Program(std::size_t size, std::uint32_t seed) {
  Bytes b = Content(size, seed);
  constexpr std::uint32_t kSignatureAt = 0x80;
  b[0] = 'M', b[1] = 'Z';
  StoreLe(&b[pe::kSignatureOffset], kSignatureAt, 4);
  std::copy(pe::kSignature, pe::kSignature + pe::kSignatureSize, b.begin() + kSignatureAt);
  StoreLe(&b[kSignatureAt + pe::kSignatureSize + pe::kMachine], pe::kI386, 2);
  std::uint32_t x = seed;
  for (std::size_t i = 0x200; i + 1 < size; i += 3 + (x >> 28)) {
    x = x * 1664525u + 1013904223u;
    b[i] = (x & 0x100) ? 0xE8 : 0xE9;
    if (i + 4 < size) b[i + 4] = (x & 0x200) ? 0x00 : (x & 0x400) ? 0xFF : 0x7F;
  }
  return b;
}

// A package folder held in memory: entries in packing order and their bytes.
struct Tree {
  std::vector<Input> inputs;
  std::map<std::string, Bytes> disk;

  void Folder(const std::string& path, std::uint32_t attributes = 0x10) {
    inputs.push_back({{path, attributes, 0x01D9000000000000ull + inputs.size(), 0}, ""});
  }
  void File(const std::string& path, Bytes content, std::uint32_t attributes = 0x20) {
    const std::string disk_path = "disk/" + std::to_string(inputs.size());
    inputs.push_back({{path, attributes, 0x01D9123456789ABCull + inputs.size(), content.size()}, disk_path});
    disk[disk_path] = std::move(content);
  }
  Opener Open() const {
    return [this](const std::string& path) -> std::unique_ptr<ByteSource> {
      const auto it = disk.find(path);
      return it == disk.end() ? nullptr : std::make_unique<MemorySource>(AsString(it->second));
    };
  }
  Bytes Pack(WriteOptions options, const Bytes& stub = {}) const {
    MemorySource stubSource(AsString(stub));
    MemorySink out;
    const std::string error = WritePackage(stubSource, "setup.ini", inputs, Open(), out, options);
    EXPECT_EQ(error, "");
    return AsBytes(out.bytes);
  }
};

WriteOptions Small(int threads = 0) {
  WriteOptions o;
  o.level = 3;  // the tests check the layout, not the ratio
  o.blockSize = format::kMinBlockSize;
  o.windowLog = format::kMinWindowLog;  // Verify checks blocks side by side
  o.threads = threads;
  return o;
}

// Folders, attributes, times, empty files, non-ASCII names, a file larger
// than a block and many small similar files spread over several blocks.
Tree SampleTree() {
  Tree t;
  t.File("setup.ini", {'[', 'G', 'U', 'I', ']'});
  t.Folder("app");
  t.Folder("app\\empty folder", 0x10 | 0x2);
  t.File("app\\readme.txt", Content(3000, 1), 0x1 | 0x2 | 0x4 | 0x20);
  t.File("app\\empty.dat", {});
  t.File("app\\big.bin", Content(150000, 2));
  t.File("app\\program.exe", Program(200001, 5));  // over three blocks
  for (int i = 0; i < 120; ++i) t.File("app\\many\\f" + std::to_string(i) + ".txt", Content(1000 + i * 7, 3 + i % 4));
  t.File("数据\\文件 ü.bin", Content(70000, 9));
  return t;
}

// Extracts the entries in the given order and compares with the tree.
void ExpectContents(Reader& reader, const Tree& tree, const std::vector<std::size_t>& order) {
  for (std::size_t i : order) {
    const Entry& e = reader.Entries()[i];
    if (e.IsFolder()) continue;
    MemorySink sink;
    ASSERT_TRUE(reader.Extract(e, sink)) << e.path;
    EXPECT_EQ(AsBytes(sink.bytes), tree.disk.at(tree.inputs[i].diskPath)) << e.path;
  }
}

TEST(Package, RoundTripKeepsEverythingInAnyOrder) {
  const Tree tree = SampleTree();
  for (const format::Codec codec : {format::Codec::kZstd, format::Codec::kLzma2}) {
  SCOPED_TRACE(codec == format::Codec::kZstd ? "zstd" : "lzma2");
  WriteOptions options = Small();
  options.codec = codec;
  const Bytes packed = tree.Pack(options);
  MemorySource file(AsString(packed));
  Reader reader;
  ASSERT_EQ(reader.Open(file, 0), OpenStatus::Ok);
  EXPECT_TRUE(reader.Verify());
  EXPECT_EQ(reader.Script(), "setup.ini");
  ASSERT_EQ(reader.Entries().size(), tree.inputs.size());
  std::uint32_t lastBlock = 0;
  for (std::size_t i = 0; i < tree.inputs.size(); ++i) {
    const Entry &got = reader.Entries()[i], &want = tree.inputs[i].entry;
    EXPECT_EQ(got.path, want.path);
    EXPECT_EQ(got.attributes, want.attributes) << want.path;
    EXPECT_EQ(got.modified, want.modified) << want.path;
    EXPECT_EQ(got.size, want.size) << want.path;
    lastBlock = std::max(lastBlock, got.block);
  }
  EXPECT_GE(lastBlock, 3u);  // the content really spans several blocks
  EXPECT_EQ(reader.Find("APP\\README.TXT"), &reader.Entries()[3]);
  for (const Entry& e : reader.Entries())
    EXPECT_EQ(e.filter, e.path == "app\\program.exe" ? Filter::kBranches : Filter::kNone) << e.path;
  EXPECT_EQ(reader.Find("app\\missing"), nullptr);

  std::vector<std::size_t> order(tree.inputs.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  ExpectContents(reader, tree, order);
  std::reverse(order.begin(), order.end());
  ExpectContents(reader, tree, order);
  std::rotate(order.begin(), order.begin() + 50, order.end());
  ExpectContents(reader, tree, order);
  }
}

// Blocks larger than the pieces the reader unpacks ahead; a sink giving up
// halfway leaves the next files, in any order, as they should be.
TEST(Package, UnpacksAheadAndStartsAgainAfterARefusal) {
  Tree tree;
  tree.File("setup.ini", {'x'});
  tree.File("a\\huge.bin", Content(5u << 20, 11));
  tree.File("a\\huge.dll", Program(5u << 20, 12));  // over pieces and blocks
  for (int i = 0; i < 40; ++i) tree.File("a\\f" + std::to_string(i), Content(100000 + 997 * i, 20 + i % 3));
  for (const format::Codec codec : {format::Codec::kZstd, format::Codec::kLzma2}) {
  SCOPED_TRACE(codec == format::Codec::kZstd ? "zstd" : "lzma2");
  WriteOptions options = Small();
  options.blockSize = 3u << 20;
  options.codec = codec;
  const Bytes packed = tree.Pack(options);
  MemorySource file(AsString(packed));
  Reader reader;
  ASSERT_EQ(reader.Open(file, 0), OpenStatus::Ok);
  ASSERT_GE(reader.Entries().back().block, 2u);

  for (std::size_t room : {std::size_t(0), std::size_t(1u << 20), std::size_t(4u << 20)}) {
    MemorySink refusing(room);
    EXPECT_FALSE(reader.Extract(reader.Entries()[1], refusing)) << room;
    std::vector<std::size_t> order(tree.inputs.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::rotate(order.begin(), order.begin() + std::ptrdiff_t(room % 7), order.end());
    ExpectContents(reader, tree, order);
  }
  // Left halfway through a file, unpacking ahead: the reader ends cleanly.
  MemorySink refusing(50000);
  EXPECT_FALSE(reader.Extract(reader.Entries()[5], refusing));
  ExpectContents(reader, tree, {1, 2});
  EXPECT_FALSE(reader.Damaged());  // a sink that refuses is no damage
  }
}

TEST(Package, SameInputsGiveSameBytesWhateverTheThreads) {
  const Tree tree = SampleTree();
  const Bytes one = tree.Pack(Small(1));
  EXPECT_EQ(tree.Pack(Small(3)), one);
  EXPECT_EQ(tree.Pack(Small(8)), one);
}

TEST(Package, WriterRefusesWhatTheReaderWould) {
  const struct {
    const char* what;
    std::vector<Input> inputs;
  } cases[] = {
      {"unsafe path", {{{"setup.ini", 0x20, 0, 0}, "x"}, {{"a\\..\\b", 0x20, 0, 0}, "x"}}},
      {"same path twice", {{{"setup.ini", 0x20, 0, 0}, "x"}, {{"SETUP.INI", 0x20, 0, 0}, "x"}}},
      {"no script", {{{"other.ini", 0x20, 0, 0}, "x"}}},
      {"script is a folder", {{{"setup.ini", 0x10, 0, 0}, ""}}},
      {"file that cannot be opened", {{{"setup.ini", 0x20, 0, 5}, "nowhere"}}},
  };
  for (const auto& c : cases) {
    MemorySource stub("");
    MemorySink out;
    const Opener open = [](const std::string&) { return std::unique_ptr<ByteSource>(); };
    EXPECT_NE(WritePackage(stub, "setup.ini", c.inputs, open, out, Small()), "") << c.what;
  }
}

// Where the parts of a packed file lie, found by walking its records.
struct Layout {
  std::uint64_t firstBlock = 0, lastBlock = 0, lastBlockSize = 0, index = 0, indexSize = 0, end = 0;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> blocks;  // packed bytes: where, how many
};

Layout Parse(const Bytes& b, std::uint64_t start) {
  Layout l;
  std::uint64_t pos = start + format::kLeadSize;
  while (true) {
    const std::uint64_t kind = LoadLe32(&b[pos]), length = LoadLe(&b[pos + 4], 8);
    if (kind == format::kBlock) {
      if (l.firstBlock == 0) l.firstBlock = pos + format::kRecordHead;
      l.lastBlock = pos + format::kRecordHead;
      l.lastBlockSize = length;
      l.blocks.emplace_back(l.lastBlock, length);
    } else if (kind == format::kIndex) {
      l.index = pos + format::kRecordHead;
      l.indexSize = length;
    } else {
      l.end = pos;
      return l;
    }
    pos += format::kRecordHead + length;
  }
}

// Puts right both checksums after a test changed the index on purpose.
void Reseal(Bytes& b, const Layout& l) {
  const std::uint32_t indexCrc = Crc32(0, &b[l.index + 4], std::size_t(l.indexSize - 4));
  StoreLe(&b[l.index], indexCrc, 4);
  // The end's CRC covers all but the blocks' packed bytes.
  std::uint32_t crc = 0;
  std::uint64_t at = 0;
  for (const auto& [where, size] : l.blocks) {
    crc = Crc32(crc, &b[at], std::size_t(where - at));
    at = where + size;
  }
  crc = Crc32(crc, &b[at], std::size_t(l.end + format::kRecordHead - at));
  StoreLe(&b[l.end + format::kRecordHead], crc, 4);
}

bool ExtractsAll(Reader& reader) {
  bool all = true;
  for (const Entry& e : reader.Entries()) {
    MemorySink sink;
    if (!e.IsFolder()) all = reader.Extract(e, sink) && all;
  }
  return all;
}

TEST(Package, DamageIsFoundInEveryPart) {
  const Tree tree = SampleTree();
  const Bytes good = tree.Pack(Small());
  const Layout l = Parse(good, 0);
  const struct {
    const char* part;
    std::uint64_t at;
    bool inContent;  // Extract alone must notice, before any Verify
  } flips[] = {
      {"magic", 2, false},
      {"lead: block size", 17, false},
      {"a block's length", l.firstBlock - 5, false},
      {"first block", l.firstBlock + 500, true},
      {"last block", l.lastBlock + l.lastBlockSize / 2, true},
      {"index: a path", l.index + l.indexSize / 2, false},
      {"index: its CRC", l.index + 1, false},
      {"end: the CRC", l.end + format::kRecordHead + 2, false},
  };
  for (const auto& f : flips) {
    Bytes bad = good;
    bad[std::size_t(f.at)] ^= 0x20;
    MemorySource file(AsString(bad));
    Reader reader;
    const OpenStatus status = reader.Open(file, 0);
    if (f.inContent) {
      ASSERT_EQ(status, OpenStatus::Ok) << f.part;
      EXPECT_FALSE(ExtractsAll(reader)) << f.part;
    }
    EXPECT_TRUE(status == OpenStatus::Damaged || !reader.Verify()) << f.part;
  }
  for (std::size_t keep : {good.size() - 1, good.size() / 2, std::size_t(10)}) {
    const Bytes cut(good.begin(), good.begin() + std::ptrdiff_t(keep));
    MemorySource file(AsString(cut));
    Reader reader;
    EXPECT_EQ(reader.Open(file, 0), OpenStatus::Damaged) << keep;
  }
}

TEST(Package, OpenRefusesAnIndexThatLies) {
  Tree tree;
  tree.File("setup.ini", Content(10, 1));
  tree.File("xx\\a.txt", Content(100, 2));
  tree.File("xx\\b.txt", Content(100, 3));
  const Bytes good = tree.Pack(Small());
  const Layout l = Parse(good, 0);
  const auto find = [&](const std::string& text) {
    return std::uint64_t(std::search(good.begin() + std::ptrdiff_t(l.index), good.end(), text.begin(), text.end()) -
                         good.begin());
  };
  const std::uint64_t b = find("xx\\b.txt") + 8;  // b's fields follow its path
  const struct {
    const char* what;
    std::uint64_t at;
    std::string bytes;
  } lies[] = {
      {"a path leaving the folder", find("xx\\a.txt"), ".."},
      {"a path twice (case-blind)", find("xx\\b.txt"), "XX\\A"},
      {"an unknown attribute", b, std::string("\x20\x04", 2)},
      {"a size beyond the content", b + 4 + 8, std::string("\x65", 1)},
      {"a size near 2^64", b + 4 + 8, std::string(8, '\xFF')},
      {"an offset near 2^64", b + 4 + 8 + 8 + 4 + 1 + 4, std::string(8, '\xFF')},
      {"an offset elsewhere", b + 4 + 8 + 8 + 4 + 1 + 4, std::string("\x00", 1)},
      {"a block elsewhere", b + 4 + 8 + 8 + 4 + 1, std::string("\x01", 1)},
      {"an unknown filter", b + 4 + 8 + 8 + 4, std::string("\x02", 1)},
      {"a folder with content", b, std::string("\x10", 1)},
      {"the script missing", find("setup.ini"), "SETUP.INX"},
  };
  for (const auto& lie : lies) {
    Bytes bad = good;
    std::copy(lie.bytes.begin(), lie.bytes.end(), bad.begin() + std::ptrdiff_t(lie.at));
    Reseal(bad, l);
    MemorySource file(AsString(bad));
    Reader reader;
    EXPECT_EQ(reader.Open(file, 0), OpenStatus::Damaged) << lie.what;
  }
  Bytes resealed = good;
  Reseal(resealed, l);
  ASSERT_EQ(resealed, good);  // the helper itself changes nothing else
}

// The bytes of a zstd frame written out by hand (raw blocks), so that a
// test can make it ask for any window or say any content size. Without a
// window log it is one segment whose window is its declared size.
Bytes RawFrame(const Bytes& content, int windowLog = 0, std::uint64_t declared = ~0ull) {
  Bytes f = {0x28, 0xB5, 0x2F, 0xFD};
  const auto put = [&f](std::uint64_t v, int n) { AppendLe(f, v, n); };
  if (windowLog == 0) {
    put(0xA0, 1);  // one segment, a 4-byte content size
    put(declared == ~0ull ? content.size() : declared, 4);
  } else {
    put(0x00, 1);                        // no content size
    put(unsigned(windowLog - 10) << 3, 1);  // the window descriptor
  }
  put(1 | (content.size() << 3), 3);  // the last block, raw
  f.insert(f.end(), content.begin(), content.end());
  return f;
}

// A package put together byte by byte with every checksum right around
// whatever a test wants inside: each block's frame and each entry's CRC.
struct Crafted {
  struct File {
    std::string path;
    Bytes content;
    std::uint32_t attributes = 0x20;
    std::uint32_t crcOffBy = 0;  // a lie in the index
  };
  std::vector<File> files;  // the first one is the script
  std::function<Bytes(std::uint32_t block, const Bytes& content)> frame = [](std::uint32_t, const Bytes& c) {
    return RawFrame(c);
  };

  Bytes Build() const {
    const std::uint32_t blockSize = format::kMinBlockSize;
    Bytes all, out(format::kMagic, format::kMagic + sizeof format::kMagic);
    for (const File& f : files) all.insert(all.end(), f.content.begin(), f.content.end());
    std::string lead, index;
    AppendLe(lead, format::kFirstVersion, 4);  // entries without a filter
    AppendLe(lead, format::kMinWindowLog, 4);  // small windows: Verify checks blocks side by side
    AppendLe(lead, blockSize, 4);
    AppendLe(lead, 0, 4);
    out.insert(out.end(), lead.begin(), lead.end());
    for (std::size_t at = 0; at < all.size(); at += blockSize) {
      const std::size_t end = std::min<std::size_t>(all.size(), at + blockSize);
      const Bytes frameBytes = frame(std::uint32_t(at / blockSize),
                                     Bytes(all.begin() + std::ptrdiff_t(at), all.begin() + std::ptrdiff_t(end)));
      std::string head;
      AppendLe(head, format::kBlock, 4);
      AppendLe(head, frameBytes.size(), 8);
      out.insert(out.end(), head.begin(), head.end());
      out.insert(out.end(), frameBytes.begin(), frameBytes.end());
    }
    AppendLe(index, all.size(), 8);
    AppendLe(index, files.size(), 4);
    AppendLe(index, files[0].path.size(), 2);
    index += files[0].path;
    std::uint64_t position = 0;
    for (const File& f : files) {
      const bool content = !f.content.empty();
      AppendLe(index, f.path.size(), 2);
      index += f.path;
      AppendLe(index, f.attributes, 4);
      AppendLe(index, 0x01D9000000000000ull, 8);
      AppendLe(index, f.content.size(), 8);
      AppendLe(index, content ? Crc32(0, f.content.data(), f.content.size()) + f.crcOffBy : 0, 4);
      AppendLe(index, content ? position / blockSize : 0, 4);
      AppendLe(index, content ? position % blockSize : 0, 8);
      position += f.content.size();
    }
    std::string tail;
    AppendLe(tail, format::kIndex, 4);
    AppendLe(tail, index.size() + 4, 8);
    AppendLe(tail, Crc32(0, index.data(), index.size()), 4);
    tail += index;
    AppendLe(tail, format::kEnd, 4);
    AppendLe(tail, 4, 8);
    out.insert(out.end(), tail.begin(), tail.end());
    std::string crc;
    AppendLe(crc, Crc32(0, out.data(), out.size()), 4);
    out.insert(out.end(), crc.begin(), crc.end());
    return out;
  }
};

// Script, then files over three blocks; the second one ends in block 2.
Crafted ThreeBlocks() {
  Crafted c;
  c.files = {{"setup.ini", {'[', 'G', 'U', 'I', ']'}},
             {"app", {}, 0x10},
             {"app\\one.bin", Content(100000, 1)},
             {"app\\two.bin", Content(60000, 2)},
             {"app\\last.txt", Content(900, 3)}};
  return c;
}

// Verify checks what was downloaded; content crafted behind right checksums
// is refused as its file is unpacked, and marks the package damaged.
TEST(Package, CraftedContentIsRefusedWhereVerifyCannotSeeIt) {
  {
    const Bytes honest = ThreeBlocks().Build();
    MemorySource file(AsString(honest));
    Reader reader;
    ASSERT_EQ(reader.Open(file, 0), OpenStatus::Ok);
    ASSERT_EQ(reader.Entries().back().block, 2u);
    EXPECT_TRUE(reader.Verify());
    EXPECT_TRUE(ExtractsAll(reader));
    EXPECT_FALSE(reader.Damaged());
  }
  const struct {
    const char* what;
    std::size_t file;  // whose CRC is wrong, 0: none
    std::function<Bytes(std::uint32_t, const Bytes&)> frame;
    bool verifies;  // the frame headers do not show it
  } cases[] = {
      {"the script's CRC", 0, nullptr, true},
      {"a CRC in the last block", 4, nullptr, true},
      {"block 2 asks for a window above the cap", 99,
       [](std::uint32_t b, const Bytes& c) { return RawFrame(c, b == 2 ? format::kMaxWindowLog + 1 : 0); }, false},
      {"block 0 says it holds more than it does", 99,
       [](std::uint32_t b, const Bytes& c) { return RawFrame(c, 0, c.size() + (b == 0)); }, false},
      {"block 1 holds less than the index says, without saying so", 99,
       [](std::uint32_t b, const Bytes& c) {
         return RawFrame(b == 1 ? Bytes(c.begin(), c.end() - 1) : c, format::kMinWindowLog);
       },
       true},
      {"bytes after block 1's frame", 99,
       [](std::uint32_t b, const Bytes& c) {
         Bytes f = RawFrame(c);
         if (b == 1) f.push_back(0);
         return f;
       },
       true},
  };
  for (const auto& c : cases) {
    Crafted crafted = ThreeBlocks();
    if (c.file < crafted.files.size()) crafted.files[c.file].crcOffBy = 1;
    if (c.frame) crafted.frame = c.frame;
    const Bytes bytes = crafted.Build();
    MemorySource file(AsString(bytes));
    Reader reader;
    ASSERT_EQ(reader.Open(file, 0), OpenStatus::Ok) << c.what;
    EXPECT_EQ(reader.Verify(), c.verifies) << c.what;
    if (!c.verifies) continue;
    EXPECT_FALSE(ExtractsAll(reader)) << c.what;
    EXPECT_TRUE(reader.Damaged()) << c.what;
  }
}

TEST(Package, NamesWindowsTakesForOneAreOne) {
  const struct {
    std::vector<std::string> paths;  // after the script; "\\" at the end: a folder
    bool clash;
  } cases[] = {
      {{"Été.txt", "été.txt"}, true},
      {{"Σ.txt", "σ.txt"}, true},
      {{"ÿ", "Ÿ"}, true},
      {{"x", "x\\y.txt"}, true},  // a file and a folder of one name
      {{"x\\y.txt", "X"}, true},
      {{"É", "é\\y.txt"}, true},
      {{"a\\B\\c.txt", "A\\b"}, true},
      {{"a\\Été\\", "a\\ÉTÉ\\f.txt"}, false},  // a folder, and a path in it
      {{"ß.txt", "SS.txt"}, false},
      {{"\xF0\x90\x90\x80.txt", "\xF0\x90\x90\xA8.txt"}, false},  // beyond the BMP: never folded
      {{"x", "x.txt"}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.paths[0] + " " + c.paths[1]);
    Crafted crafted;
    crafted.files = {{"setup.ini", {'x'}}};
    Tree tree;
    tree.File("setup.ini", {'x'});
    for (const std::string& p : c.paths) {
      const bool folder = p.back() == '\\';
      const std::string path = folder ? p.substr(0, p.size() - 1) : p;
      crafted.files.push_back({path, folder ? Bytes() : Bytes{'y'}, folder ? 0x10u : 0x20u});
      if (folder)
        tree.Folder(path);
      else
        tree.File(path, {'y'});
    }
    const Bytes bytes = crafted.Build();
    MemorySource file(AsString(bytes));
    Reader reader;
    EXPECT_EQ(reader.Open(file, 0), c.clash ? OpenStatus::Damaged : OpenStatus::Ok);
    MemorySource stub("");
    MemorySink out;
    EXPECT_EQ(WritePackage(stub, "SETUP.INI", tree.inputs, tree.Open(), out, Small()) != "", c.clash);
  }
  // Looked up as Windows would: "ÉTÉ.TXT" is "été.txt".
  Crafted crafted;
  crafted.files = {{"setup.ini", {'x'}}, {"données\\été.txt", {'y'}}};
  const Bytes bytes = crafted.Build();
  MemorySource file(AsString(bytes));
  Reader reader;
  ASSERT_EQ(reader.Open(file, 0), OpenStatus::Ok);
  EXPECT_EQ(reader.Find("DONNÉES\\ÉTÉ.TXT"), &reader.Entries()[1]);
}

TEST(Package, SafePaths) {
  for (const char* path : {"..", "a\\..\\b", "a\\.\\b", "C:x", "c:\\x", "\\a", "/a", "a/b", "a:b", "a\\b:s",
                           "CON", "nul.txt", "com1", "LPT9.x", "a\\aux", "con .txt", "COM\xC2\xB9", "conin$",
                           "a\x01", "tab\there", "a\\\\b", "a\\", "", "x\\a.", "x\\a ", "...", "a*",
                           "a?", "a\"b", "a<b", "a|b", "bad\xFFutf8", "\xC3"})
    EXPECT_FALSE(IsSafePath(path)) << path;
  for (const char* path : {"a", "a\\b\\c.txt", "数据\\文件.bin", "ü.txt", ".hidden", "a..b", "console.txt",
                           "com10", "lpt", "nul-x", "com1x.txt", "a b\\c d.txt", "x.y.z", "\xF0\x9F\x98\x80"})
    EXPECT_TRUE(IsSafePath(path)) << path;
}

TEST(Package, Crc32IsTheZipOneInAnyPieces) {
  // zlib's values: long inputs take the folding path where the processor has it.
  std::string bytes;
  for (int i = 0; i < 40 * 256; ++i) bytes += char(i);
  const struct {
    std::string text;
    std::uint32_t crc;
  } known[] = {{"123456789", 0xCBF43926u}, {std::string(1000, 'a'), 0x9A38DA03u}, {bytes + "xyz", 0x5E2B91F0u}};
  for (const auto& k : known) EXPECT_EQ(Crc32(0, k.text.data(), k.text.size()), k.crc) << k.text.size();
  const Bytes big = Content(100000, 5);
  const std::uint32_t whole = Crc32(0, big.data(), big.size());
  for (std::size_t cut : {std::size_t(0), std::size_t(1), std::size_t(7), std::size_t(4097), big.size()}) {
    const std::uint32_t a = Crc32(0, big.data(), cut), b = Crc32(0, big.data() + cut, big.size() - cut);
    EXPECT_EQ(Crc32(a, big.data() + cut, big.size() - cut), whole) << cut;
    EXPECT_EQ(format::Crc32Combine(a, b, big.size() - cut), whole) << cut;
  }
}

// A PE program of two sections, as a linker lays one out; the table may
// then be made to lie.
Bytes TinyPe(std::uint16_t sections = 2, std::uint32_t lfanew = 0x80) {
  using namespace pe;
  constexpr std::size_t kOptionalSize = 0xE0;  // a PE32 one with 16 directories
  Bytes b(0x600, 0);
  b[0] = 'M', b[1] = 'Z';
  const auto put = [&b](std::uint64_t at, std::uint32_t v, int n) { StoreLe(&b[at], v, n); };
  put(kSignatureOffset, lfanew, 4);
  const std::uint64_t file = std::uint64_t{lfanew} + kSignatureSize, table = file + kFileHeaderSize + kOptionalSize;
  if (table + 2 * kSectionHeaderSize > b.size()) return b;
  std::copy(kSignature, kSignature + kSignatureSize, &b[lfanew]);
  put(file + kMachine, kI386, 2);
  put(file + kSectionCount, sections, 2);
  put(file + kOptionalHeaderSize, kOptionalSize, 2);
  put(table + kRawSize, 0x200, 4), put(table + kRawPointer, 0x400, 4);  // .text: 0x400..0x600
  put(table + kSectionHeaderSize + kRawSize, 0x200, 4);                 // .data before it
  put(table + kSectionHeaderSize + kRawPointer, 0x200, 4);
  return b;
}

TEST(Package, FoundBehindARealProgramWhateverFollows) {
  const Bytes stub = TinyPe();
  MemorySource stubSource(AsString(stub));
  ASSERT_EQ(OverlayStart(stubSource), stub.size());
  Reader none;
  EXPECT_EQ(none.Open(stubSource, stub.size()), OpenStatus::NoPackage);

  const Tree tree = SampleTree();
  Bytes packed = tree.Pack(Small(), stub);
  ASSERT_TRUE(std::equal(stub.begin(), stub.end(), packed.begin()));
  // A signature appended later: padding to eight bytes, then a certificate.
  packed.resize((packed.size() + 7) / 8 * 8, 0);
  const Bytes certificate = Content(4000, 77);
  packed.insert(packed.end(), certificate.begin(), certificate.end());
  MemorySource file(AsString(packed));
  const auto start = OverlayStart(file);
  ASSERT_EQ(start, stub.size());
  Reader reader;
  ASSERT_EQ(reader.Open(file, *start), OpenStatus::Ok);
  EXPECT_TRUE(reader.Verify());
  EXPECT_TRUE(ExtractsAll(reader));

  // A signed program without a package: a certificate but no package.
  Bytes signedStub = stub;
  signedStub.insert(signedStub.end(), certificate.begin(), certificate.end());
  MemorySource signedSource(AsString(signedStub));
  EXPECT_EQ(none.Open(signedSource, stub.size()), OpenStatus::NoPackage);
  // The packer will not put a package where it would never be found.
  MemorySink out;
  EXPECT_NE(WritePackage(signedSource, "setup.ini", tree.inputs, tree.Open(), out, Small()), "");
  // A download cut inside the program.
  const Bytes cut(packed.begin(), packed.begin() + 0x500);
  MemorySource cutSource(AsString(cut));
  const auto cutStart = OverlayStart(cutSource);
  ASSERT_TRUE(cutStart.has_value());
  EXPECT_EQ(none.Open(cutSource, *cutStart), OpenStatus::Damaged);
}

TEST(Package, OverlayStartRefusesWhatIsNoProgram) {
  Bytes notMz = TinyPe();
  notMz[0] = 'X';
  Bytes noPe = TinyPe();
  noPe[0x80] = 'X';
  const struct {
    const char* what;
    Bytes file;
  } cases[] = {
      {"not MZ", notMz},
      {"no PE signature", noPe},
      {"e_lfanew beyond the file", TinyPe(2, 0xFFFFFFF0u)},
      {"section table beyond the file", TinyPe(0xFFFF)},
      {"too short", Bytes(10, 'M')},
  };
  for (const auto& c : cases) {
    MemorySource file(AsString(c.file));
    EXPECT_FALSE(OverlayStart(file).has_value()) << c.what;
  }
}

TEST(Package, OffsetsBeyondFourGiBKeepTheirHighBits) {
  const Tree tree = SampleTree();
  const Bytes packed = tree.Pack(Small());
  const std::uint64_t base = (5ull << 32) + 12345;  // every read must come from above it
  MemorySource far(AsString(packed), base);
  Reader reader;
  ASSERT_EQ(reader.Open(far, base), OpenStatus::Ok);
  EXPECT_TRUE(reader.Verify());
  std::vector<std::size_t> order(tree.inputs.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[order.size() - 1 - i] = i;
  ExpectContents(reader, tree, order);
}

// A product's two versions as one-file packages behind one program: the
// script names the product and its version; `changes` makes the newer one.
struct Release {
  Tree tree;
  Bytes packed;
};

// Machine code as a linker lays it out: every 16 bytes a call to one of the
// functions in its first half (at every 64th slot). `grown` more bytes at
// slot `at` move what follows, so the calls after it change their
// displacements, as a function grown by a rebuild does to them.
Bytes Linked(std::size_t slots, std::size_t at, std::size_t grown) {
  const std::size_t begin = 0x200, cut = begin + at * 16;
  const auto moved = [&](std::size_t p) { return p >= cut ? p + grown : p; };
  Bytes b = Program(begin + slots * 16 + grown, 1);  // the headers
  const Bytes filler = Content(b.size(), 2);
  std::copy(filler.begin() + begin, filler.end(), b.begin() + begin);
  for (std::size_t s = 0; s < slots; ++s) {
    const std::size_t call = moved(begin + s * 16 + 11), target = begin + (s * 7919 % (slots / 2)) / 64 * 64 * 16;
    b[call] = 0xE8;
    StoreLe(&b[call + 1], std::uint32_t(moved(target) - (call + 5)), 4);
  }
  return b;
}

std::string Script(const std::string& uninstall) { return "[INSTALL]\r\nApp=app\\,?\r\n[UNINSTALL]\r\n" + uninstall; }

Bytes Sealed(const Tree& tree, const Bytes& signature = {}) {
  Bytes packed = tree.Pack(Small(), TinyPe());
  packed.insert(packed.end(), signature.begin(), signature.end());
  return packed;
}

Release Version1(const std::string& uninstall = "Id=qvTest\r\nVersion=1.0\r\n") {
  Release r;
  const std::string script = Script(uninstall);
  r.tree.File("setup.ini", Bytes(script.begin(), script.end()));
  r.tree.Folder("app");
  r.tree.File("app\\same.txt", Content(40000, 1));
  r.tree.File("app\\program.exe", Program(300000, 2));
  r.tree.File("app\\gone.txt", Content(5000, 3));
  r.tree.File("app\\linked.dll", Linked(16000, 12000, 0));
  r.packed = Sealed(r.tree);
  return r;
}

// A program rebuilt: a few hundred bytes changed in three places of its
// code and a few KiB more at its end; a file added, one removed, one kept
// under a name Windows takes for the same.
Release Version2(const Release& v1, const std::string& uninstall = "Id=qvTest\r\nVersion=1.1\r\n") {
  Release r;
  const std::string script = Script(uninstall);
  r.tree.File("setup.ini", Bytes(script.begin(), script.end()));
  r.tree.Folder("app", 0x10 | 0x2);
  r.tree.File("APP\\Same.TXT", v1.tree.disk.at(v1.tree.inputs[2].diskPath), 0x21);
  Bytes program = v1.tree.disk.at(v1.tree.inputs[3].diskPath);
  for (std::size_t at : {0x3000u, 0x11000u, 0x30000u})
    for (std::size_t i = 0; i < 300; ++i) program[at + i] ^= static_cast<unsigned char>(i * 13 + 1);
  const Bytes more = Program(6000, 7);
  program.insert(program.end(), more.begin() + 0x200, more.end());
  r.tree.File("app\\program.exe", program);
  r.tree.File("app\\linked.dll", Linked(16000, 12000, 48));
  r.tree.File("app\\added.txt", Content(3000, 4));
  r.packed = Sealed(r.tree, Content(900, 5));  // signed: the update leaves the signature
  return r;
}

Bytes MakeUpdate(const Bytes& before, const Bytes& after, std::string& error) {
  MemorySource old(AsString(before)), now(AsString(after));
  MemorySink out;
  error = qvpack::MakePatch({"1.exe", old}, {"2.exe", now}, out, Small());
  return AsBytes(out.bytes);
}

// An installation of the first version, by path as Windows compares them.
std::map<std::string, Bytes> Installed(const Tree& tree) {
  std::map<std::string, Bytes> files;
  for (const Input& in : tree.inputs)
    if (!in.entry.IsFolder()) files[FileNameKey(in.entry.path)] = tree.disk.at(in.diskPath);
  return files;
}

TEST(Update, TurnsTheOldInstallationIntoTheNewOneCarryingLittle) {
  const Release v1 = Version1(), v2 = Version2(v1);
  std::string error;
  const Bytes update = MakeUpdate(v1.packed, v2.packed, error);
  ASSERT_EQ(error, "");
  const Bytes stub = TinyPe();
  ASSERT_TRUE(std::equal(stub.begin(), stub.end(), update.begin()));  // the newer program
  MemorySource file(AsString(update));
  Reader reader;
  ASSERT_EQ(reader.Open(file, stub.size()), OpenStatus::Ok);
  ASSERT_TRUE(reader.Verify());
  EXPECT_EQ(reader.BaseId(), "qvTest");
  EXPECT_EQ(reader.BaseVersion(), "1.0");
  // Far smaller than the newer package, signature left out.
  EXPECT_LT((update.size() - stub.size()) * 4, v2.packed.size() - stub.size() - 900);

  // The script is read before anything is installed: always packed.
  const std::map<std::string, Source> sources = {{"setup.ini", Source::kPacked},       {"app", Source::kPacked},
                                                 {"APP\\Same.TXT", Source::kKept},      {"app\\program.exe", Source::kPatched},
                                                 {"app\\added.txt", Source::kPacked},
                                                 {"app\\linked.dll", Source::kPatched}};
  std::map<std::string, Bytes> installed = Installed(v1.tree);
  ASSERT_EQ(reader.Entries().size(), v2.tree.inputs.size());
  for (std::size_t i = 0; i < v2.tree.inputs.size(); ++i) {
    const Entry &e = reader.Entries()[i], &want = v2.tree.inputs[i].entry;
    SCOPED_TRACE(want.path);
    EXPECT_EQ(e.path, want.path);
    EXPECT_EQ(e.attributes, want.attributes);
    EXPECT_EQ(e.modified, want.modified);
    EXPECT_EQ(e.source, sources.at(e.path));
    if (e.IsFolder()) continue;
    MemorySink sink;
    MemorySource base(AsString(installed[FileNameKey(e.path)]));
    if (e.source == Source::kPacked) {
      EXPECT_TRUE(reader.Extract(e, sink));
    }
    if (e.source == Source::kKept) {
      EXPECT_TRUE(MatchesBase(e, base));
      EXPECT_FALSE(reader.Extract(e, sink));
      sink.bytes = AsString(installed[FileNameKey(e.path)]);
    }
    if (e.source == Source::kPatched) {
      EXPECT_EQ(reader.ExtractPatched(e, base, sink), PatchStatus::Ok);
    }
    EXPECT_EQ(AsBytes(sink.bytes), v2.tree.disk.at(v2.tree.inputs[i].diskPath));
  }
  EXPECT_FALSE(reader.Damaged());
  // Calls that moved patch smaller with their targets made absolute.
  EXPECT_EQ(reader.Find("app\\linked.dll")->filter, Filter::kBranches);

  // A base that is not the one: one byte off is caught by its sum before
  // anything is written; forced past the sum, by the result's CRC.
  const Entry& program = *reader.Find("app\\program.exe");
  const Entry& kept = *reader.Find("app\\same.txt");
  for (const Entry* e : {&program, &kept}) {
    Bytes wrong = installed[FileNameKey(e->path)];
    wrong[wrong.size() / 3] ^= 1;
    MemorySource base(AsString(wrong));
    EXPECT_FALSE(MatchesBase(*e, base)) << e->path;
  }
  Bytes wrong = installed[FileNameKey(program.path)];
  wrong[0x20000] ^= 1;  // where the newer file has the same bytes
  MemorySource wrongBase(AsString(wrong));
  MemorySink nothing;
  EXPECT_EQ(reader.ExtractPatched(program, wrongBase, nothing), PatchStatus::WrongBase);
  EXPECT_EQ(nothing.bytes, "");
  EXPECT_FALSE(reader.Damaged());
  Entry forced = program;
  forced.baseHash = Xxh64Of(wrong.data(), wrong.size());
  EXPECT_EQ(reader.ExtractPatched(forced, wrongBase, nothing), PatchStatus::Failed);
  EXPECT_TRUE(reader.Damaged());

  // A damaged patch record fails Verify, and its file as it is unpacked.
  const Layout l = Parse(update, stub.size());
  std::uint64_t patchAt = l.blocks.back().first + l.blocks.back().second;
  ASSERT_EQ(LoadLe32(&update[patchAt]), std::uint32_t(format::kPatch));
  Bytes damaged = update;
  damaged[patchAt + format::kRecordHead + 40] ^= 0x10;
  MemorySource damagedFile(AsString(damaged));
  Reader again;
  ASSERT_EQ(again.Open(damagedFile, stub.size()), OpenStatus::Ok);
  EXPECT_FALSE(again.Verify());
  MemorySource base(AsString(installed[FileNameKey(program.path)]));
  EXPECT_EQ(again.ExtractPatched(*again.Find(program.path), base, nothing), PatchStatus::Failed);
  EXPECT_TRUE(again.Damaged());
}

TEST(Update, IsMadeOnlyFromTwoVersionsOfOneProduct) {
  const Release v1 = Version1();
  std::string error;
  const Bytes update = MakeUpdate(v1.packed, Version2(v1).packed, error);
  ASSERT_EQ(error, "");
  const struct {
    const char* what;
    Bytes before, after;
    const char* says;  // in the error; null: made
  } cases[] = {
      {"another product", v1.packed, Version2(v1, "Id=other\r\nVersion=1.1\r\n").packed, "not one product"},
      {"no Id in the old", Version1("Version=1.0\r\n").packed, Version2(v1).packed, "1.exe: its script has no"},
      {"no Id in the new", v1.packed, Version2(v1, "Version=1.1\r\n").packed, "2.exe: its script has no"},
      {"the same version", v1.packed, Version2(v1, "ID = qvTest\r\nversion=1.0\r\n").packed, "both packages are"},
      {"no version either side", Version1("Id=qvTest\r\n").packed, Version2(v1, "Id=qvTest\r\n").packed, "both"},
      {"an update as the old", update, Version2(v1).packed, "an update itself"},
      {"no package", TinyPe(), Version2(v1).packed, "holds no package"},
      {"names as the engine reads them", v1.packed, Version2(v1, "id=\"qvTest\"\r\nVersion=2\r\n").packed, nullptr},
  };
  for (const auto& c : cases) {
    MakeUpdate(c.before, c.after, error);
    if (c.says)
      EXPECT_NE(error.find(c.says), std::string::npos) << c.what << ": " << error;
    else
      EXPECT_EQ(error, "") << c.what;
  }
}

// The uninstall record's seal: the standard's examples, each message fed
// whole and in uneven pieces, so that blocks and padding fall everywhere.
TEST(Sha256, GivesTheStandardsDigests) {
  const struct {
    std::string message;
    const char* digest;
  } kCases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& c : kCases) {
    std::string whole;
    for (const std::uint8_t b : Sha256Of(c.message)) AppendHex(whole, b, true);
    EXPECT_EQ(whole, c.digest) << c.message.size() << " bytes";
    Sha256 pieces;
    for (std::size_t at = 0, n = 1; at < c.message.size(); at += n, n = n * 7 % 131 + 1)
      pieces.Update(std::string_view(c.message).substr(at, n));
    EXPECT_EQ(pieces.Peek(), Sha256Of(c.message)) << c.message.size() << " bytes";
  }
}

}  // namespace
}  // namespace qv::pack
