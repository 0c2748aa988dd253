// The component's operations that run through the compression engine: each
// runs in the run frame with one TZADLLOpr work object; the lister then reads
// the archive again as the job marked it.
#include "zip/ZADllLoad.h"
#include "zip/ZADllOpr.h"
#include "zip/ZipArchiver.h"

void TCustomZipArchiver::Add() {
    RunOperation([this] { StartWork<TZADLLOpr>().Add(); });
}

void TCustomZipArchiver::Extract() {
    RunOperation([this] { StartWork<TZADLLOpr>().Extract(); });
}

// Takes or drops the use of the engine that keeps it loaded between jobs; what
// DLL_Load reads afterwards is whether this component holds such a use.
void TCustomZipArchiver::ApplyDllLoad(bool load) {
    RunOperation([this, load] { StartWork<TZADLLOpr>().SetEngineLoaded(load); });
    dllLoad_ = TZADLLLoader::Instance().IsUser(*this);
}

void TCustomZipArchiver::ForgetEngine() {
    TZADLLLoader::Instance().Forget(*this);
    dllLoad_ = false;
}
