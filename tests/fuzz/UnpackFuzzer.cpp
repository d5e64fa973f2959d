// The helper's unpacking of an archive made of the fuzzer's bytes (zip, tar, tar.gz), in a
// folder of its own: nothing may appear outside the destination, no link inside may point
// out of it, and nothing of the helper's staging may stay behind.
#include "ArchiveRules.h"
#include "FuzzInput.h"
#include "Unpack.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct Sandbox {
    Sandbox() {
        std::string tmpl = (fs::temp_directory_path() / "unpack-fuzz-XXXXXX").string();
        root = ::mkdtemp(tmpl.data());
        fs::create_directories(root / "outer" / "dest");
        std::ofstream(root / "outer" / "secret") << "outside";
    }
    ~Sandbox() {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    fs::path root;
};

std::vector<fs::path> Listing(const fs::path& ADir) {
    std::vector<fs::path> out;
    for (auto it = fs::recursive_directory_iterator(ADir); it != fs::recursive_directory_iterator();
         ++it)
        out.push_back(it->path());
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
    using halvora::fuzz::Require;
    static Sandbox box;
    const fs::path outer = box.root / "outer", dest = outer / "dest";
    const fs::path archive = box.root / "input.arc";
    {
        std::ofstream out(archive, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(AData), std::streamsize(ASize));
    }
    static const std::vector<fs::path> before = Listing(outer);
    std::string err;
    const int rc = helper::Unpack(archive.string(), dest.string() + "/", 16u << 20, 2000, err);
    Require(rc >= helper::kOk && rc <= helper::kWriteFailed, "a known exit code");
    const std::string destText = fs::canonical(dest).string() + "/";
    for (const fs::path& p : Listing(outer)) {
        const std::string text = p.string();
        if (text.rfind(dest.string() + "/", 0) != 0) {
            Require(std::find(before.begin(), before.end(), p) != before.end(),
                    "nothing new outside the destination");
            continue;
        }
        Require(p.filename().string().rfind(".updater-", 0) != 0, "no staging left behind");
        if (fs::is_symlink(p)) {
            std::error_code ec;
            const fs::path real = fs::weakly_canonical(p, ec);
            Require(ec || real.string().rfind(destText, 0) == 0 || real.string() + "/" == destText,
                    "links stay inside the destination");
        }
    }
    std::ifstream secret(outer / "secret");
    std::string content;
    std::getline(secret, content);
    Require(content == "outside", "the file outside is untouched");
    std::error_code ec;
    for (const fs::directory_entry& e : fs::directory_iterator(dest))
        fs::remove_all(e.path(), ec);
    return 0;
}
