// Sequence files (.rbs): arbitrary bytes through the archive reader and the
// load of "Carregar Arquivo de Sequência...".
#include "sequenceharness.h"

namespace {

fuzz::SequenceProgram* g_program = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::Init(argc, argv);
    g_program = new fuzz::SequenceProgram;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString path = fuzz::Scratch() + QStringLiteral("in/arquivo.rbs");
    fuzz::WriteFile(path, fuzz::Bytes(data, size));
    g_program->Start(size);
    g_program->Load(path);
    return 0;
}
