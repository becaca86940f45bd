// Patterson set project 100 (27 activities, 3 resources) as the set gives it, tabs and blank
// lines included, for tests that must run where the benchmark data are not. At SCV 2 its
// identification finds 54 606 UDCs of four states on average.
#pragma once

inline const char* const kPatterson100 = R"(27	3

10	10	10	

0	0	0	0	3	2	3	4	
2	3	5	2	1	5	
4	5	4	3	2	5	8	
1	5	2	2	2	6	7	
1	4	1	4	2	9	11	
2	5	5	4	1	12	
4	3	5	2	1	9	
2	2	4	4	1	10	
4	3	2	2	1	13	
7	3	2	4	2	13	14	
3	3	3	2	3	13	15	16	
2	4	1	4	1	13	
2	1	4	4	1	18	
4	2	2	2	2	17	20	
2	5	5	4	1	17	
5	1	5	4	1	19	
3	4	5	4	2	21	22	
1	3	2	3	2	21	24	
5	5	3	3	1	23	
6	2	4	6	1	21	
1	1	6	2	1	25	
3	3	2	1	1	26	
2	1	0	4	1	25	
7	2	2	1	1	25	
5	0	1	3	1	27	
5	2	2	2	1	27	
0	0	0	0	0	
)";
