// talvik: enclosure page library (filled in by the page-library work).
