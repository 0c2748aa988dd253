// The component's operations that run through the compression engine: each
// runs in the run frame with one TZADLLOpr work object; the lister then reads
// the archive again as the job marked it.
#include "zip/ZADllOpr.h"
#include "zip/ZipArchiver.h"

void TCustomZipArchiver::Add() {
    RunOperation([this] { StartWork<TZADLLOpr>().Add(); });
}

void TCustomZipArchiver::Extract() {
    RunOperation([this] { StartWork<TZADLLOpr>().Extract(); });
}
