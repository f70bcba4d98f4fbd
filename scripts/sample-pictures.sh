# Sourced by the scripts that start the program on the repository's own pictures: one picture of
# tests/data per ratio group, and the size keys of the 13 groups in group order (each group's first
# catalogue entry), under which the settings file names them.
# shellcheck shell=bash
pictures=(
  formats/rgbrgb.png pngsuite/basn2c08.png formats/sample.png formats/sample.jpg formats/palette.gif
  pngsuite/basn6a08.png formats/sample.bmp formats/rgbrgb.gif pngsuite/basn3p08.png formats/sample.tif
  pngsuite/basn0g08.png formats/palette.bmp pngsuite/basn4a08.png
)
keys=(180_180 2688_1242 2208_1242 470_320 2388_1668 2048_1496 2732_2048 1536_2008 2048_2732 1668_2388
  640_960 1242_2208 1242_2688)
