#include "app/hearkener_main.h"

int main(int argc, char** argv) { return hearkenerMain(argc, argv); }
