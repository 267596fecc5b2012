// Hydrogen kit archives (.h2drumkit, a gzip-compressed tar) imported as
// "Importar Kit do Hydrogen..." does: unpacked into a hidden staging folder,
// then read and made into a package. Nothing lands outside the packages
// folder and the staging folders go.
#include "kitharness.h"

namespace {

fuzz::KitProgram* g_program = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::Init(argc, argv);
    g_program = new fuzz::KitProgram;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString archive = fuzz::Scratch() + QStringLiteral("in/kit.h2drumkit");
    fuzz::WriteFile(archive, fuzz::Bytes(data, size));
    g_program->Import(archive, size);
    return 0;
}
