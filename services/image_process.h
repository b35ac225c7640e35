// The page method "ImageProcess": a page asks for the size of a local image
// file, for a grey copy of it, or for a copy shrunk to fit a box.
//
// The request is a JSON object text with the members "method" ("size",
// "gray" or "scale2"), "path", "pathDest", "maxWidth" and "maxHeight".
// Image files of the common formats are read and written with gdk-pixbuf;
// the pixel work is done by CBitmapEx on an uncompressed BMP file written
// beside the source under the source's name followed by ".tmp.bmp".
#pragma once

#include <string>
#include <vector>

// arguments are the page's arguments as code page 936 texts, in the page's
// order (a non-text argument is an empty text); only the first is read. The
// result is one of the method's fixed texts, in code page 936: "OK",
// "width,height" for "size", or a text beginning "ERR:参数不正确".
std::string ImageProcess(const std::vector<std::string>& arguments);
