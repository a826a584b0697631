/* 7-Zip's PPMd variant H encoder, for the tests' own 7z streams: its function for one symbol is
   static, and only it writes the end mark (symbol -1). */
#include "Ppmd7Enc.c"

void KvPpmd7EncodeSymbol(CPpmd7* p, int symbol)
{
    Ppmd7z_EncodeSymbol(p, symbol);
}
