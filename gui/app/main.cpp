// tessaron: the GUI program.
#include "app/TessaronApp.h"

int main(int argc, char** argv) {
    CTessaronApp app(argc, argv);
    if (!app.InitInstance()) return 1;
    return app.Run();
}
