// Makes a sample installer package for the demo.
// Usage: qz-make-package.exe OUTPUT.msi PRODUCT-NAME [PLATFORM]
#include <windows.h>

#include <cstdio>
#include <exception>

#include "support/package_builder.h"
#include "support/test_env.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fwprintf(stderr, L"usage: qz-make-package.exe OUTPUT.msi PRODUCT-NAME [PLATFORM]\n");
        return 2;
    }
    qztest::PackageSpec desc;
    desc.productName = argv[2];
    desc.installFolder = argv[2];
    if (argc > 3)
        desc.platform = argv[3];
    desc.files = {{L"readme.txt", "Installed by the qz-setup demo.\r\n"}};
    desc.productCode = qztest::NewGuid();
    try {
        qztest::BuildPackage(desc, argv[1]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "cannot make the package: %s\n", e.what());
        return 1;
    }
    std::printf("made %s: product %s, code %s, platform %s\n", qztest::ToUtf8(argv[1]).c_str(),
                qztest::ToUtf8(desc.productName).c_str(), qztest::ToUtf8(desc.productCode).c_str(),
                qztest::ToUtf8(desc.platform).c_str());
    return 0;
}
