// lies in no layer
