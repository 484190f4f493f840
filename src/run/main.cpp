// Process entry of marluneTranslate.
#include "run/marluneTranslate.h"

int main(int argc, char** argv) { return marluneMain(argc, argv); }
