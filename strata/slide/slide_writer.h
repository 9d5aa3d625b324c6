// Writing ZTX slides, for the programs on top of the library: the streaming
// pyramid writer (strata/ztx/ztx_writer.h) under the façade's namespace.
#ifndef STRATA_SLIDE_SLIDE_WRITER_H_
#define STRATA_SLIDE_SLIDE_WRITER_H_

#include "strata/ztx/ztx_format.h"
#include "strata/ztx/ztx_writer.h"

namespace strata::writer {

using ztx::kCompressedIndexBits;
using ztx::ProgressCallback;
using ztx::PropertyItem;
using ztx::RowSource;
using ztx::StoredImage;
using ztx::TileEncoding;
using ztx::WrittenTile;
using ztx::ZtxLayout;
using ztx::ZtxWriter;
using ztx::ZtxWriterOptions;

}  // namespace strata::writer

#endif  // STRATA_SLIDE_SLIDE_WRITER_H_
