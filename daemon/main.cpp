// fieldgate: the Linux service of the gateway (daemon/fieldgate.h).
#include "daemon/fieldgatemain.h"

int main(int argc, char** argv) { gw::FieldgateMain(argc, argv); }
