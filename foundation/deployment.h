/* Addresses and host names that depend on where the program is deployed,
 * kept together so that one header says where the program reaches out to. */
#ifndef LUMORA_DEPLOYMENT_H
#define LUMORA_DEPLOYMENT_H

#include "lumora_version.h"

/* Description images on these hosts are the marketplace's own and stay. */
inline constexpr const char *SKIPPED_HOST_MARKERS[] = {".tbcdn.cn/", ".taobao.com/", ".tmall.com/"};

/* Hosts of the marketplace's image space, told apart from other albums. */
inline constexpr const char *MARKET_HOST_MARKERS[] = {".taobaocdn.com/", ".alicdn.com/"};

/* A blank 1x1 PNG on the marketplace's image host, written in place of images
 * that could not be moved. */
inline constexpr char BLANK_IMAGE_URL[] =
    "https://img.alicdn.com/imgextra/i1/O1CN01xBlank1x1PNG000000000000000_!!0-tps.png";

/* The product's web site, an http address ending in "/"; its pages are
 * "help.html", "convert.html" and "unzip.html". The build may set another. */
#ifndef LUMORA_PRODUCT_SITE
#define LUMORA_PRODUCT_SITE "http://www.lumora.example/"
#endif
inline constexpr char PRODUCT_SITE[] = LUMORA_PRODUCT_SITE;

/* The update service's request address, carrying the version. */
#ifndef LUMORA_UPDATE_SERVICE
#define LUMORA_UPDATE_SERVICE "http://update.lumora.example/check"
#endif
inline constexpr char UPDATE_URL[] = LUMORA_UPDATE_SERVICE "?version=" LUMORA_VERSION;

/* The page a newer version is downloaded from. */
#ifndef LUMORA_DOWNLOAD_PAGE
#define LUMORA_DOWNLOAD_PAGE "http://www.lumora.example/download.html"
#endif
inline constexpr char DOWNLOAD_PAGE[] = LUMORA_DOWNLOAD_PAGE;

/* Host names under this suffix belong to the maker's own service; when their
 * lookup fails, the fixed address below is used instead. */
#ifndef LUMORA_VENDOR_HOST_SUFFIX
#define LUMORA_VENDOR_HOST_SUFFIX ".lumora.example"
#endif
inline constexpr char VENDOR_HOST_SUFFIX[] = LUMORA_VENDOR_HOST_SUFFIX;

/* The maker's service at a fixed IPv4 address, a deployment's choice; none
 * ("") by default, since a local server that happens to answer there would
 * be taken for the maker's. */
#ifndef LUMORA_VENDOR_FALLBACK_ADDRESS
#define LUMORA_VENDOR_FALLBACK_ADDRESS ""
#endif
inline constexpr char VENDOR_FALLBACK_ADDRESS[] = LUMORA_VENDOR_FALLBACK_ADDRESS;

#endif
