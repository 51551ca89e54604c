GET DATA /TYPE = STREAM
  /PIPE = '/tmp/weather.pipe'
  /VARIABLES = time DATETIME17 station A8 temp F5.1 humidity F4 wind F5.1 pressure F7.1 .
