// Prints the listing of a DXBC compute program: corvo-dxbc-dis IN.dxbc
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/emulated/dxbc/tokens.h"
#include "tools/listing.h"

int main(int argc, char **argv) {
    if (argc != 2) {
        std::cerr << "usage: corvo-dxbc-dis IN.dxbc\n";
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<uint8_t> blob((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    corvo::dxbc::ProgramTokens program;
    std::string text, error;
    if (!corvo::dxbc::decode_container(blob.data(), blob.size(), &program, &error) ||
        !corvo::dxbc::print_listing(program, &text, &error)) {
        std::cerr << argv[1] << ": " << error << "\n";
        return 1;
    }
    std::cout << text;
    return 0;
}
