// The quorvel program: the one application object, run once.
#include "app/quorvel_app.h"

CQuorvelApp theApp;

int main() {
    theApp.InitInstance();
    return theApp.ExitInstance();
}
