// Writes the benchmark's source trees. Every run on every machine gets byte-identical trees:
// names, sizes and contents come from a fixed-seed generator, so timings can be compared.
// It also touches memory for bench/run, which is its other plain-C++ helper.

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Bump when a tree changes, so that bench/run throws away its cached copies.
constexpr int GeneratorVersion = 1;

constexpr std::uint64_t KiB = 1024;
constexpr std::uint64_t MiB = 1024 * KiB;

// splitmix64: tiny, fast, and the same everywhere.
class Random
{
public:
    explicit Random(std::uint64_t seed) : m_state(seed) {}

    std::uint64_t next()
    {
        std::uint64_t z = (m_state += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }

    // Uniform enough in [low, high] for picking sizes.
    std::uint64_t between(std::uint64_t low, std::uint64_t high)
    {
        return low + next() % (high - low + 1);
    }

private:
    std::uint64_t m_state;
};

class TreeWriter
{
public:
    TreeWriter(const fs::path &root, std::uint64_t seed) : m_root(root), m_random(seed)
    {
        m_block.resize(MiB / sizeof(std::uint64_t));
    }

    void folder(const fs::path &relative) { fs::create_directories(m_root / relative); }

    // Contents are pseudo-random, so no layer can shortcut them as zeros or compress them.
    void file(const fs::path &relative, std::uint64_t size) { sparseFile(relative, size, 0, size); }

    // Holds `length` bytes of data from `offset` on; the rest of its `size` is a hole.
    void sparseFile(const fs::path &relative, std::uint64_t size, std::uint64_t offset,
                    std::uint64_t length)
    {
        const fs::path path = m_root / relative;
        fs::create_directories(path.parent_path());
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.seekp(static_cast<std::streamoff>(offset));
        for (std::uint64_t left = length; left > 0;) {
            const std::uint64_t chunk = std::min<std::uint64_t>(left, MiB);
            const std::uint64_t words = (chunk + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t);
            for (std::uint64_t i = 0; i < words; ++i)
                m_block[i] = m_random.next();
            out.write(reinterpret_cast<const char *>(m_block.data()),
                      static_cast<std::streamsize>(chunk));
            left -= chunk;
        }
        out.close();
        if (!out)
            throw fs::filesystem_error("cannot write", path,
                                       std::error_code(errno, std::generic_category()));
        fs::resize_file(path, size);
        ++m_files;
        m_bytes += size;
    }

    Random &random() { return m_random; }
    std::uint64_t files() const { return m_files; }
    std::uint64_t bytes() const { return m_bytes; }

private:
    fs::path m_root;
    Random m_random;
    std::vector<std::uint64_t> m_block;
    std::uint64_t m_files = 0;
    std::uint64_t m_bytes = 0;
};

std::string numbered(std::string_view stem, int number, int width, std::string_view suffix = {})
{
    char digits[16];
    std::snprintf(digits, sizeof digits, "%0*d", width, number);
    return std::string(stem) + digits + std::string(suffix);
}

// Many small files: what a photo library's thumbnails or a source tree look like.
void smallFiles(TreeWriter &tree, const fs::path &under, int folders, int filesPerFolder,
                std::uint64_t maxSize = 8 * KiB)
{
    for (int d = 0; d < folders; ++d) {
        const fs::path folder = under / numbered("dir", d, 3);
        for (int f = 0; f < filesPerFolder; ++f)
            tree.file(folder / numbered("file", f, 5, ".dat"), tree.random().between(100, maxSize));
    }
}

void chain(TreeWriter &tree, const fs::path &under, int depth, int filesPerLevel,
           std::uint64_t maxSize)
{
    fs::path folder = under;
    for (int level = 1; level <= depth; ++level) {
        folder /= numbered("level", level, 2);
        for (int f = 0; f < filesPerLevel; ++f)
            tree.file(folder / numbered("note", f, 1, ".txt"), tree.random().between(1, maxSize));
    }
}

void writeSmall(TreeWriter &tree)
{
    smallFiles(tree, {}, 200, 100);
}

void writeLarge(TreeWriter &tree)
{
    for (int i = 0; i < 4; ++i)
        tree.file(numbered("large", i, 1, ".bin"), 256 * MiB);
}

void writeDeep(TreeWriter &tree)
{
    chain(tree, {}, 60, 3, 64 * KiB);
}

// About 1 GiB: a few large files, some medium ones, a photo-sized crowd, small files, a deep
// corner, and the empty cases a real tree has.
void writeMixed(TreeWriter &tree)
{
    for (int i = 0; i < 2; ++i)
        tree.file(fs::path("video") / numbered("movie", i, 1, ".bin"), 256 * MiB);
    for (int i = 0; i < 16; ++i)
        tree.file(fs::path("video") / "clips" / numbered("clip", i, 2, ".bin"),
                  tree.random().between(12 * MiB, 20 * MiB));
    for (int i = 0; i < 192; ++i)
        tree.file(fs::path("photos") / numbered("roll", i / 24, 1) / numbered("img", i, 4, ".jpg"),
                  tree.random().between(512 * KiB, 1536 * KiB));
    smallFiles(tree, "documents", 50, 100);
    chain(tree, "archive", 20, 2, 16 * KiB);
    tree.file(fs::path("documents") / "empty.txt", 0);
    tree.folder(fs::path("documents") / "nothing here");
}

// For a NAS, where each file costs round trips: 1,000 files of 1 to 8 KiB in 10 folders.
void writeSmall1k(TreeWriter &tree)
{
    for (int d = 0; d < 10; ++d)
        for (int f = 0; f < 100; ++f)
            tree.file(fs::path(numbered("dir", d, 2)) / numbered("file", f, 3, ".dat"),
                      tree.random().between(KiB, 8 * KiB));
}

// The mixed tree's kinds of files at a tenth of its size (about 90 MiB, 540 files), so that a
// NAS round trip of milliseconds copies it in a minute.
void writeMixed100(TreeWriter &tree)
{
    tree.file(fs::path("video") / "movie.bin", 40 * MiB);
    for (int i = 0; i < 4; ++i)
        tree.file(fs::path("video") / "clips" / numbered("clip", i, 1, ".bin"),
                  tree.random().between(4 * MiB, 8 * MiB));
    for (int i = 0; i < 24; ++i)
        tree.file(fs::path("photos") / numbered("img", i, 4, ".jpg"),
                  tree.random().between(512 * KiB, 1536 * KiB));
    smallFiles(tree, "documents", 5, 100);
    chain(tree, "archive", 5, 2, 16 * KiB);
    tree.file(fs::path("documents") / "empty.txt", 0);
    tree.folder(fs::path("documents") / "nothing here");
}

// For clones: 1 GiB in four files, where a clone saves the most, and 500 files of 1 to 8 KiB,
// where it saves the least.
void writeLarge500(TreeWriter &tree)
{
    for (int i = 0; i < 4; ++i)
        tree.file(numbered("large", i, 1, ".bin"), 256 * MiB);
    for (int d = 0; d < 5; ++d)
        for (int f = 0; f < 100; ++f)
            tree.file(fs::path(numbered("dir", d, 1)) / numbered("file", f, 3, ".dat"),
                      tree.random().between(KiB, 8 * KiB));
}

// A disk image or a database that is mostly holes: 4 KiB of data in the middle, holes around it.
void writeSparse(TreeWriter &tree, std::uint64_t size)
{
    tree.sparseFile("sparse.img", size, size / 2 / (4 * KiB) * (4 * KiB), 4 * KiB);
}

// 200,000 files, for the engine's memory on a tree the size of a large photo library.
void writeHuge(TreeWriter &tree)
{
    smallFiles(tree, {}, 1000, 200, KiB);
}

// 300,000 empty files in one folder: a mail store or a cache, for the memory one huge folder
// takes.
void writeFlat(TreeWriter &tree)
{
    for (int f = 0; f < 300000; ++f)
        tree.file(numbered("file", f, 6), 0);
}

// Writes to every page of `mib` MiB and frees them, so that the next process finds that much
// memory already handed back by the host of a VM that reclaims what its guest freed.
// For the time-left histories: a job whose cost per file and cost per byte take turns. The copy
// enters sub-folders before it copies a folder's own files.
void writeLargeThenSmall(TreeWriter &tree)
{
    for (int i = 0; i < 3; ++i)
        tree.file(fs::path("large") / numbered("large", i, 1, ".bin"), 1024 * MiB);
    for (int f = 0; f < 20000; ++f)
        tree.file(numbered("file", f, 5, ".dat"), tree.random().between(100, 8 * KiB));
}

void writeSmallThenLarge(TreeWriter &tree)
{
    smallFiles(tree, "small", 1, 20000);
    for (int i = 0; i < 3; ++i)
        tree.file(numbered("large", i, 1, ".bin"), 1024 * MiB);
}

void writeTiny(TreeWriter &tree)
{
    for (int f = 0; f < 100000; ++f)
        tree.file(numbered("tiny", f, 6, ".txt"), tree.random().between(1, 512));
}

int touchMemory(std::uint64_t mib)
{
    const auto memory = std::make_unique<char[]>(mib * MiB);
    volatile char *pages = memory.get();
    for (std::uint64_t i = 0; i < mib * MiB; i += 4 * KiB)
        pages[i] = 1;
    return 0;
}

int usage()
{
    std::fprintf(stderr, "usage: trasko_treegen small|large|deep|mixed|huge|flat FOLDER\n"
                         "       trasko_treegen small1k|mixed100|large500 FOLDER\n"
                         "       trasko_treegen large-small|small-large|tiny FOLDER\n"
                         "       trasko_treegen sparse FOLDER [MIB]\n"
                         "       trasko_treegen --version | --touch MIB\n"
                         "Writes the named tree into FOLDER, which must not exist yet; the\n"
                         "sparse file's size is MIB MiB (default 2048).\n");
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("%d\n", GeneratorVersion);
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "--touch") == 0)
        return touchMemory(std::strtoull(argv[2], nullptr, 10));
    if (argc != 3 && !(argc == 4 && std::strcmp(argv[1], "sparse") == 0))
        return usage();
    const std::string_view name = argv[1];

    const fs::path root = argv[2];
    const std::uint64_t sparseSize = (argc == 4 ? std::strtoull(argv[3], nullptr, 10) : 2048) * MiB;
    std::function<void(TreeWriter &)> write;
    std::uint64_t seed = 0;
    if (name == "small") {
        write = writeSmall;
        seed = 1;
    } else if (name == "large") {
        write = writeLarge;
        seed = 2;
    } else if (name == "deep") {
        write = writeDeep;
        seed = 3;
    } else if (name == "mixed") {
        write = writeMixed;
        seed = 4;
    } else if (name == "huge") {
        write = writeHuge;
        seed = 6;
    } else if (name == "flat") {
        write = writeFlat;
        seed = 7;
    } else if (name == "large-small") {
        write = writeLargeThenSmall;
        seed = 8;
    } else if (name == "small-large") {
        write = writeSmallThenLarge;
        seed = 9;
    } else if (name == "tiny") {
        write = writeTiny;
        seed = 10;
    } else if (name == "small1k") {
        write = writeSmall1k;
        seed = 11;
    } else if (name == "mixed100") {
        write = writeMixed100;
        seed = 12;
    } else if (name == "large500") {
        write = writeLarge500;
        seed = 13;
    } else if (name == "sparse") {
        write = [sparseSize](TreeWriter &tree) { writeSparse(tree, sparseSize); };
        seed = 5;
    } else {
        return usage();
    }

    try {
        if (fs::exists(root)) {
            std::fprintf(stderr, "trasko_treegen: %s exists already\n", root.c_str());
            return 1;
        }
        fs::create_directories(root);
        TreeWriter tree(root, seed);
        write(tree);
        std::printf("%s: %llu files, %llu bytes\n", argv[1],
                    static_cast<unsigned long long>(tree.files()),
                    static_cast<unsigned long long>(tree.bytes()));
    } catch (const fs::filesystem_error &error) {
        std::fprintf(stderr, "trasko_treegen: %s\n", error.what());
        return 1;
    }
    return 0;
}
