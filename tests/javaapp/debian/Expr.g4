grammar Expr;
prog : (expr NEWLINE)* ;
expr : expr ('*'|'/') expr | expr ('+'|'-') expr | INT | '(' expr ')' ;
NEWLINE : [\r\n]+ ;
INT : [0-9]+ ;
WS : [ \t]+ -> skip ;
