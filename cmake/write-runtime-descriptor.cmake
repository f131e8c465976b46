# Writes the runtime descriptor line for an installer served at a url: the url, the
# installer's length and its SHA-256, separated by tabs.
# usage: cmake -DINSTALLER=FILE -DURL=URL -DOUTPUT=FILE -P write-runtime-descriptor.cmake
file(SIZE "${INSTALLER}" size)
file(SHA256 "${INSTALLER}" digest)
string(TOUPPER "${digest}" digest)
file(WRITE "${OUTPUT}" "${URL}\t${size}\t${digest}\r\n")
