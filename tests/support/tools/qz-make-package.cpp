// Makes a sample installer package for the demo and the kit's samples.
// Usage: qz-make-package.exe OUTPUT.msi PRODUCT-NAME [PLATFORM [PRODUCT-CODE UPGRADE-CODE]]
// Without the codes the product code is a fresh one, and so is the upgrade code.
#include <windows.h>

#include <cstdio>
#include <exception>

#include "support/package_builder.h"
#include "support/test_env.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fwprintf(
            stderr,
            L"usage: qz-make-package.exe OUTPUT.msi PRODUCT-NAME [PLATFORM [PRODUCT-CODE UPGRADE-CODE]]\n");
        return 2;
    }
    qztest::PackageSpec desc;
    desc.productName = argv[2];
    desc.installFolder = argv[2];
    if (argc > 3)
        desc.platform = argv[3];
    desc.files = {{L"readme.txt", "Installed by the qz-setup demo.\r\n"}};
    desc.productCode = argc > 5 ? argv[4] : qztest::NewGuid();
    if (argc > 5)
        desc.upgradeCode = argv[5];
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
