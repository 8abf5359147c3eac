data pooled;
  infile "/data/job.est" recfm=f lrecl=56;
  input
    region $char8.
    year rb8.
    _MODEL_ $char8.
    _TYPE_ $char8.
    _NAME_ $char8.
    _X1_ rb8.
    _X2_ rb8.
    ;
run;

