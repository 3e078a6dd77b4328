# (toolkit library added below once written)
