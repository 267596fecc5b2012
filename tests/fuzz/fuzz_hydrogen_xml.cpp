// drumkit.xml of a Hydrogen kit folder, imported as "Importar Kit do
// Hydrogen..." does: read, laid out on the keyboard, samples checked by the
// engine's decoder, staged, named and taken into use.
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
    const QString xml = fuzz::KitProgram::Folder() + QStringLiteral("drumkit.xml");
    fuzz::WriteFile(xml, fuzz::Bytes(data, size));
    g_program->Import(xml, size);
    return 0;
}
