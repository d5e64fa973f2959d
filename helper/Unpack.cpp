#include "Unpack.h"

#include "ArchiveRules.h"
#include "FileStep.h"
#include "StagedInstall.h"

#include <archive.h>
#include <archive_entry.h>

#include <cstdio>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace helper {

namespace {

// libarchive leaves the error text unset for some failures, and names a failed write without
// the system's reason (a full disk, a quota).
std::string ErrorText(archive* AArchive) {
    const char* e = archive_error_string(AArchive);
    std::string text = e ? e : "unknown error";
    const int code = archive_errno(AArchive);
    if (code > 0 && text.find(std::strerror(code)) == std::string::npos)
        text += std::string(": ") + std::strerror(code);
    return text;
}

// libarchive's gzip reader doesn't check the trailer's CRC, so a damaged tar.gz would unpack
// "successfully". zlib checks it: one pass over the compressed file before unpacking, which
// also stops a gzip bomb before anything is written.
int VerifyGzip(const std::string& AArchive, const ArchiveLimits& ALimits, std::string& AErr) {
    unsigned char magic[2] = {};
    FILE* f = std::fopen(AArchive.c_str(), "rb");
    if (!f) {
        AErr = "cannot read the archive: " + std::string(std::strerror(errno));
        return kArchiveUnreadable;
    }
    const size_t n = std::fread(magic, 1, 2, f);
    std::fclose(f);
    if (n != 2 || magic[0] != 0x1f || magic[1] != 0x8b)
        return kOk; // not gzip: zip carries its own checks
    gzFile gz = gzopen(AArchive.c_str(), "rb");
    if (!gz) {
        AErr = "cannot read the archive";
        return kArchiveUnreadable;
    }
    gzbuffer(gz, 1 << 17);
    std::vector<char> buf(1 << 18);
    // Tar headers and padding add a little to the content; allow for them.
    ArchiveLimits streamLimits = ALimits;
    streamLimits.maxBytes = ALimits.maxBytes + ALimits.maxBytes / 8 + (16u << 20);
    ExpansionGuard guard(streamLimits);
    int rc = kOk;
    for (;;) {
        const int got = gzread(gz, buf.data(), unsigned(buf.size()));
        if (got < 0) {
            int code = 0;
            AErr = std::string("damaged archive: ") + gzerror(gz, &code);
            rc = kArchiveUnreadable;
            break;
        }
        if (got == 0)
            break;
        rc = guard.add(std::uint64_t(got), AErr);
        if (rc != kOk)
            break;
    }
    if (rc == kOk && !gzeof(gz)) {
        AErr = "damaged archive: unexpected end of data";
        rc = kArchiveUnreadable;
    }
    gzclose(gz);
    return rc;
}

class Unpacker {
public:
    explicit Unpacker(const ArchiveLimits& ALimits) : limits(ALimits), rules(ALimits) {}

    int run(const std::string& AArchive, const std::string& ADest, std::string& AErr);

private:
    int extract(const std::string& AArchive, std::string& AErr);
    int writeEntry(archive* AIn, archive* AOut, archive_entry* AEntry, std::string& AErr);
    int copyData(archive* AIn, archive* AOut, archive_entry* AEntry, std::string& AErr);
    int makeProgramsRunnable(std::string& AErr);

    ArchiveLimits limits;
    EntryRules rules;
    std::string dest, staging;
};

archive* NewArchiveReader() {
    archive* in = archive_read_new();
    archive_read_support_filter_gzip(in);
    archive_read_support_format_zip(in);
    archive_read_support_format_tar(in);
    return in;
}

archive* NewDiskWriter() {
    archive* out = archive_write_disk_new();
    archive_write_disk_set_options(
        out, ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_SECURE_SYMLINKS |
                 ARCHIVE_EXTRACT_SECURE_NODOTDOT | ARCHIVE_EXTRACT_SECURE_NOABSOLUTEPATHS);
    return out;
}

int WriteError(archive* AOut, archive_entry* AEntry, std::string& AErr) {
    AErr = std::string("cannot write ") + archive_entry_pathname(AEntry) + ": " + ErrorText(AOut);
    return kWriteFailed;
}

// Copies the current entry's data block by block, each block counted against the limits
// before it is written.
int Unpacker::copyData(archive* AIn, archive* AOut, archive_entry* AEntry, std::string& AErr) {
    for (;;) {
        const void* buf = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        const int d = archive_read_data_block(AIn, &buf, &size, &offset);
        if (d == ARCHIVE_EOF)
            return kOk;
        if (d != ARCHIVE_OK) {
            // Warnings too: a bad CRC is only a warning to libarchive.
            AErr = std::string("damaged archive: ") + ErrorText(AIn);
            return kArchiveUnreadable;
        }
        const int rc = rules.addData(size, offset, AErr);
        if (rc != kOk)
            return rc;
        FileStep();
        if (archive_write_data_block(AOut, buf, size, offset) != ARCHIVE_OK)
            return WriteError(AOut, AEntry, AErr);
    }
}

int Unpacker::writeEntry(archive* AIn, archive* AOut, archive_entry* AEntry, std::string& AErr) {
    bool skip = false;
    int rc = rules.check(AEntry, skip, AErr);
    if (rc != kOk || skip)
        return rc;
    FileStep();
    if (archive_write_header(AOut, AEntry) != ARCHIVE_OK)
        return WriteError(AOut, AEntry, AErr);
    rc = copyData(AIn, AOut, AEntry, AErr);
    if (rc != kOk)
        return rc;
    FileStep();
    if (archive_write_finish_entry(AOut) != ARCHIVE_OK)
        return WriteError(AOut, AEntry, AErr);
    return kOk;
}

int Unpacker::extract(const std::string& AArchive, std::string& AErr) {
    archive* in = NewArchiveReader();
    archive* out = NewDiskWriter();
    int rc = VerifyGzip(AArchive, limits, AErr);
    if (rc == kOk && archive_read_open_filename(in, AArchive.c_str(), 1 << 16) != ARCHIVE_OK) {
        AErr = std::string("cannot read the archive: ") + ErrorText(in);
        rc = kArchiveUnreadable;
    }
    while (rc == kOk) {
        archive_entry* entry = nullptr;
        const int r = archive_read_next_header(in, &entry);
        if (r == ARCHIVE_EOF)
            break;
        if (r != ARCHIVE_OK) {
            AErr = std::string("damaged archive: ") + ErrorText(in);
            rc = kArchiveUnreadable;
            break;
        }
        rc = writeEntry(in, out, entry, AErr);
    }
    if (archive_write_close(out) != ARCHIVE_OK && rc == kOk) {
        AErr = std::string("cannot finish writing: ") + ErrorText(out);
        rc = kWriteFailed;
    }
    archive_write_free(out);
    archive_read_close(in);
    archive_read_free(in);
    return rc;
}

// Archives made on other systems often carry ffmpeg without its executable bit; the program
// only works once its owner may run it. Nothing else changes mode.
int Unpacker::makeProgramsRunnable(std::string& AErr) {
    const std::string program = staging + "/ffmpeg";
    struct stat st {};
    if (::lstat(program.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || (st.st_mode & S_IXUSR))
        return kOk;
    FileStep();
    if (::chmod(program.c_str(), (st.st_mode & 07777) | S_IXUSR) != 0) {
        AErr = "cannot make ffmpeg executable: " + std::string(std::strerror(errno));
        return kWriteFailed;
    }
    return kOk;
}

int Unpacker::run(const std::string& AArchive, const std::string& ADest, std::string& AErr) {
    if (!RealFolder(ADest, dest)) {
        AErr = "destination is not a folder: " + ADest;
        return kWriteFailed;
    }
    // Whatever an earlier run left unfinished is settled before this one starts.
    std::string ignored;
    FinishInterrupted(dest, ignored);
    struct stat st {};
    if (::stat(AArchive.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        limits.archiveBytes = std::uint64_t(st.st_size);
    rules = EntryRules(limits);

    std::string tmpl =
        dest + "/" + std::string(kStagingPrefix) + std::to_string(::getpid()) + "-XXXXXX";
    FileStep();
    if (!::mkdtemp(tmpl.data())) {
        AErr = "cannot create a staging folder in " + dest + ": " + std::strerror(errno);
        return kWriteFailed;
    }
    staging = tmpl;
    // The program looks for a journal in here without the helper's rights (it may have run as
    // root), and the component it holds is public anyway.
    ::chmod(staging.c_str(), 0755);
    // The disk writer works relative to the current folder.
    const int cwd = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int rc = kWriteFailed;
    if (::chdir(staging.c_str()) == 0) {
        rc = extract(AArchive, AErr);
        if (cwd >= 0 && ::fchdir(cwd) != 0 && rc == kOk) {
            AErr = "cannot return to the working folder";
            rc = kWriteFailed;
        }
    } else {
        AErr = "cannot enter the staging folder: " + std::string(std::strerror(errno));
    }
    if (cwd >= 0)
        ::close(cwd);
    if (rc == kOk)
        rc = makeProgramsRunnable(AErr);
    if (rc == kOk)
        rc = MoveIntoPlace(staging, dest, AErr);
    FileStep();
    RemoveTree(staging);
    return rc;
}

} // namespace

int Unpack(const std::string& AArchive, const std::string& ADest, std::uint64_t AMaxBytes,
           std::uint64_t AMaxEntries, std::string& AErr) {
    ArchiveLimits limits;
    limits.maxBytes = AMaxBytes;
    limits.maxEntries = AMaxEntries;
    Unpacker u(limits);
    return u.run(AArchive, ADest, AErr);
}

} // namespace helper
