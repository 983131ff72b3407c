/* Stands in front of libjpeg-turbo's jpeglib.h in the Windows build of JUCE's modules.
 *
 * JUCE includes jpeglib.h inside a namespace of its own and then names
 * jpeglibNamespace::boolean. The Windows headers (rpcndr.h) already define a global `boolean`
 * as unsigned char, and libjpeg-turbo's Windows jconfig.h leaves its own typedef out when they
 * have, so that name would be missing. Declaring it here, in whatever scope includes this
 * header and as the same type the library was built with, satisfies both; HAVE_BOOLEAN keeps
 * jmorecfg.h from declaring it as int. */
#ifndef LYRLINK_JPEGLIB_SHIM_H
#define LYRLINK_JPEGLIB_SHIM_H
typedef unsigned char boolean;
#define HAVE_BOOLEAN
#include_next <jpeglib.h>
#endif
