/* The identities of the PLIX WIC codec. Programs and the registry name them,
 * so once released they never change. Usable from C and C++.
 *
 *   container format  {3B1847CD-77DA-4AF1-BF39-79B072D6BDF0}
 *   decoder class     {7B1CEB43-7DB3-40C3-AFDF-14229CBA56B6}
 *   encoder class     {4E1F2471-9CB2-4720-91A7-62FAF065EB7C}
 *   vendor            {C5F2BF95-163B-4153-ACED-3D3F43DB2F61}
 */
#ifndef PLIXWIC_GUIDS_H
#define PLIXWIC_GUIDS_H

#include <guiddef.h>

static const GUID GUID_ContainerFormatPlix = {
    0x3b1847cd, 0x77da, 0x4af1, {0xbf, 0x39, 0x79, 0xb0, 0x72, 0xd6, 0xbd, 0xf0}};
static const GUID CLSID_PlixWicDecoder = {
    0x7b1ceb43, 0x7db3, 0x40c3, {0xaf, 0xdf, 0x14, 0x22, 0x9c, 0xba, 0x56, 0xb6}};
static const GUID CLSID_PlixWicEncoder = {
    0x4e1f2471, 0x9cb2, 0x4720, {0x91, 0xa7, 0x62, 0xfa, 0xf0, 0x65, 0xeb, 0x7c}};
static const GUID GUID_VendorPlix = {
    0xc5f2bf95, 0x163b, 0x4153, {0xac, 0xed, 0x3d, 0x3f, 0x43, 0xdb, 0x2f, 0x61}};

/* Encoder options beside the standard ImageQuality (VT_R4, 0.0 to 1.0, q-factor
 * round(15 x (1 - quality))): the matrix set (VT_UI1: 0 PLIX, 1 JPEG, 2 CG)
 * and the colour mode (VT_UI1: 0 YUV, 1 RGB). */
#define PLIXWIC_OPTION_MATRIX_SET L"PlixMatrixSet"
#define PLIXWIC_OPTION_MODE L"PlixMode"

#endif /* PLIXWIC_GUIDS_H */
