#include "app/application.h"

int main(int argc, char** argv) { return tessavin::RunApplication(argc, argv); }
