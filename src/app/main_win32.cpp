// The quorvel program on Windows: a GUI-subsystem program, so no console opens beside the
// dialog. The application reads its show command and command line from the process, as
// the dialog framework does, so the entry point's parameters are not needed.
#include "app/quorvel_app.h"

CQuorvelApp theApp;

// The C runtime's GUI start-up calls this (linked with -municode). Declared by hand: the
// types behind its parameters are the system's, and this file needs none of them.
extern "C" int __stdcall wWinMain(void* /*hInstance*/, void* /*hPrevInstance*/,
                                  wchar_t* /*pCmdLine*/, int /*nCmdShow*/) {
    theApp.InitInstance();
    return theApp.ExitInstance();
}
