global amblib "<root>/stata"

use x
global name "e1"
global dataout "out1"
global impl "2"
do "$amblib/emitdata"

global name "e2"
global dataout "out2"
global mult "CONcat"
global mode "debug"
do "$amblib/emitdata"

global name "d1"
global dir "sub"
global mode ""
do "$amblib/describe"

summarize
exit, clear STATA
