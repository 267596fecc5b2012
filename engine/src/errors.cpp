// The one-sentence Portuguese description of each result code.
#include "rbcore.h"

namespace rb {

const char* ErrorString(Result result) {
    switch (result) {
    case OK: return "Sem erros.";
    case ERR_BADCOMMAND: return "Operação não permitida para este objeto.";
    case ERR_CHANNEL_ALLOC: return "Não há canal livre para tocar o som.";
    case ERR_CHANNEL_STOLEN: return "O canal foi tomado por outro som.";
    case ERR_DSP_CONNECTION: return "O efeito não pode ser ligado a este destino.";
    case ERR_FILE_BAD: return "O arquivo está corrompido, vazio ou não pôde ser lido.";
    case ERR_FILE_EOF: return "O arquivo terminou antes do esperado.";
    case ERR_FILE_NOTFOUND: return "Arquivo ou pasta não encontrado.";
    case ERR_FORMAT: return "Formato de som não suportado ou não reconhecido.";
    case ERR_INITIALIZED: return "Esta operação não é permitida com a engine já iniciada.";
    case ERR_INVALID_HANDLE: return "Referência inválida: o objeto não existe mais.";
    case ERR_INVALID_PARAM: return "Parâmetro inválido.";
    case ERR_MEMORY: return "Memória insuficiente ou limite de objetos atingido.";
    case ERR_OUTPUT_CREATEBUFFER: return "Não foi possível criar o buffer de saída de áudio.";
    case ERR_OUTPUT_DRIVERCALL: return "O driver de áudio devolveu um erro.";
    case ERR_OUTPUT_INIT: return "Não foi possível abrir o dispositivo de saída de áudio.";
    case ERR_PLUGIN_MISSING: return "Plugin não encontrado.";
    case ERR_RECORD: return "Erro no dispositivo de gravação.";
    case ERR_TAGNOTFOUND: return "Etiqueta não encontrada.";
    case ERR_UNINITIALIZED: return "A engine não foi iniciada.";
    case ERR_UNSUPPORTED: return "Operação não suportada por esta saída.";
    case ERR_BUSY: return "A engine está ocupada; tente novamente.";
    case ERR_OUTPUT_LOST:
        return "O dispositivo de saída de áudio parou de responder; a engine tenta reabri-lo a cada segundo.";
    case ERR_OUTPUT_RATE:
        return "O dispositivo de saída não aceitou a qualidade escolhida; o som é mixado na taxa do dispositivo.";
    case ERR_TOO_LARGE: return "O som é grande demais: decodificado, passaria de 1 GiB.";
    case ERR_INTERNAL: return "Erro interno da engine.";
    case ERR_OUTPUT_UNDERRUN:
        return "A saída de áudio não acompanhou e falhou; o buffer foi aumentado para que o som não falhe mais.";
    default: return "Erro desconhecido da engine.";
    }
}

}  // namespace rb
