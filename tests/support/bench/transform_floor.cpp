// The floor of the language transform catalogue: for each transform in a
// folder, the installer calls that find the ProductLanguage it sets (a scratch
// database with an empty Property table in the temporary folder, created,
// committed, reopened, the transform listed against it in _TransformView, the
// rows read until the property is found, the scratch file deleted). Only that
// loop is timed (after a warm-up open of a package).
//
// Usage: qz-bench-transform-floor.exe [--warm PACKAGE] DIRECTORY
// Prints "ms=<loop time> transforms=<files> languages=<transforms that set it>".
#include <cstdio>
#include <string>

#include "floor_common.h"

namespace {

using qzbench::Handle;

bool Run(MSIHANDLE database, const wchar_t* query, Handle& view) {
    return MsiDatabaseOpenViewW(database, query, view.put()) == ERROR_SUCCESS &&
           MsiViewExecute(view.get(), 0) == ERROR_SUCCESS;
}

// The scratch database file, deleted (after its handles are closed) on every way out.
class ScratchFile {
public:
    ScratchFile() {
        wchar_t directory[MAX_PATH];
        if (GetTempPathW(MAX_PATH, directory) && GetTempFileNameW(directory, L"", 0, m_name))
            m_created = true;
    }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;
    ~ScratchFile() {
        if (m_created)
            DeleteFileW(m_name);
    }
    bool created() const { return m_created; }
    const wchar_t* name() const { return m_name; }

private:
    wchar_t m_name[MAX_PATH] = {};
    bool m_created = false;
};

// 1 when the transform sets ProductLanguage, 0 when not, -1 on failure.
int ReadLanguage(const std::wstring& transform, std::wstring& value) {
    ScratchFile scratch;
    if (!scratch.created())
        return -1;
    {
        Handle database, view;
        if (MsiOpenDatabaseW(scratch.name(), MSIDBOPEN_CREATE, database.put()) != ERROR_SUCCESS ||
            !Run(database.get(),
                 L"CREATE TABLE Property(Property CHAR(72) NOT NULL, Value CHAR(255) NOT NULL LOCALIZABLE "
                 L"PRIMARY KEY Property)",
                 view))
            return -1;
        view.reset();
        if (MsiDatabaseCommit(database.get()) != ERROR_SUCCESS)
            return -1;
    }
    Handle database, view, record;
    if (MsiOpenDatabaseW(scratch.name(), MSIDBOPEN_DIRECT, database.put()) != ERROR_SUCCESS ||
        MsiDatabaseApplyTransformW(database.get(), transform.c_str(), 0x110) != ERROR_SUCCESS ||
        !Run(database.get(), L"SELECT * FROM _TransformView", view))
        return -1;
    while (MsiViewFetch(view.get(), record.put()) == ERROR_SUCCESS) {
        if (qzbench::RecordText(record.get(), 1) == L"Property" &&
            qzbench::RecordText(record.get(), 2) == L"Value" &&
            qzbench::RecordText(record.get(), 3) == L"ProductLanguage") {
            value = qzbench::RecordText(record.get(), 4);
            return 1;
        }
    }
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    int i = 1;
    std::wstring warm;
    if (i + 1 < argc && std::wstring(argv[i]) == L"--warm") {
        warm = argv[i + 1];
        i += 2;
    }
    if (argc - i != 1) {
        std::fwprintf(stderr, L"usage: qz-bench-transform-floor.exe [--warm PACKAGE] DIRECTORY\n");
        return 2;
    }
    const std::wstring directory = qzbench::WithBackslash(argv[i]);
    if (!warm.empty() && !qzbench::WarmUp(warm)) {
        std::printf("error: cannot read the warm-up package\n");
        return 3;
    }

    const qzbench::Stopwatch stopwatch;
    unsigned transforms = 0, languages = 0;
    for (const auto& file : qzbench::ListFiles(directory + L"*.mst")) {
        std::wstring value;
        const int found = ReadLanguage(directory + file, value);
        if (found < 0) {
            std::printf("error: transform %u cannot be read\n", transforms + 1);
            return 3;
        }
        ++transforms;
        languages += static_cast<unsigned>(found);
    }
    const double ms = stopwatch.Milliseconds();
    std::printf("ms=%.3f transforms=%u languages=%u\n", ms, transforms, languages);
    return 0;
}
