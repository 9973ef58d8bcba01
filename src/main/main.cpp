// src/main/main.cpp: the process entry point; everything else lives in the core library.
#include "main/app.hpp"

int main(int argc, char **argv) {
    return app_main(argc, argv);
}
