// Sequence text: written into a sequence file by the program's own save, then
// loaded as "Carregar" does (the check, the part taken, the append rules to
// what is in memory) and played through the kit.
#include "sequenceharness.h"

#include "base/textfiles.h"

namespace {

fuzz::SequenceProgram* g_program = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::Init(argc, argv);
    g_program = new fuzz::SequenceProgram;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    rimbal::Sequence& sequence = g_program->sequence;
    const QString path = fuzz::Scratch() + QStringLiteral("in/texto.rbs");
    sequence.SequenceText = rimbal::FromWindows1252(fuzz::Bytes(data, size));
    QString error;
    if (!sequence.SaveToFile(path, error)) fuzz::Fail("a sequence could not be saved", error);
    g_program->Start(size);
    g_program->Load(path);
    return 0;
}
